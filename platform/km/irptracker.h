// The I/O manager's side table of IRPs: where each one is in its life
// (idle with its allocator, passed down, being completed, completed) and who
// finishes it. IRPs themselves stay plain memory.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <functional>

namespace kmsim {

// Run once completion passes the IRP's top stack location; it owns the IRP
// from then on and must free it with IoFreeIrp. An IRP with such an owner is
// the I/O manager's (built for a caller); one without belongs to the driver
// that allocated it, whose completion routine must stop completion.
using IrpFinalCompletion = std::function<void(PIRP)>;
void SetIrpFinalCompletion(PIRP irp, IrpFinalCompletion onCompleted);

// IRPs that lived in freed memory are forgotten.
void IrpForgetRange(uintptr_t begin, uintptr_t end);

// Whether the IRP is known and not yet completed to its top.
bool IrpIsLive(PIRP irp);

// IoCancelIrp for the I/O manager on a request it sent and has not freed
// yet: one that has just completed (its final completion is waiting for the
// caller's lock) is left alone, not reported, as Windows' CancelIo does
// with the requests still on its list.
BOOLEAN CancelIssuedIrp(PIRP irp);

}  // namespace kmsim
