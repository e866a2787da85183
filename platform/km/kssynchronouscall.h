// Sending an IRP down and waiting for it, the way a driver does for requests
// it must see finished before it goes on (PnP start, lower-device queries,
// the test client's requests).
#pragma once

#include <wdm.h>

namespace kmsim {

// The caller has filled the IRP's next stack location. The IRP comes back to
// the caller after completion (a completion routine stops it), so the caller
// frees or completes it. Returns the IRP's final status.
NTSTATUS CallDriverSynchronously(PDEVICE_OBJECT deviceObject, PIRP irp);

}  // namespace kmsim
