// One bulk or interrupt transfer on the virtual bus: its checks and one
// attempt to move its data through the device. A transfer the device does
// not answer stays pending and is attempted again later.
#pragma once

#include "usb/busdevice.h"

#include <optional>

namespace usbsim {

// Why a transfer cannot be accepted at all, if it cannot.
std::optional<UrbResult> CheckBulkTransfer(const _URB_BULK_OR_INTERRUPT_TRANSFER& urb,
                                           const PipeEndpoint& pipe);

// Tries to move the transfer on. OUT: the device takes every byte or none.
// IN: packets of at most the pipe's packet size are gathered at `received`
// until a short packet or a full buffer ends the read; `received` keeps
// its value between attempts. Returns how the transfer ends, or nothing
// while it stays pending. On the end of an IN read TransferBufferLength is
// what arrived.
//
// A short read without USBD_SHORT_TRANSFER_OK ends with
// USBD_STATUS_ERROR_SHORT_TRANSFER, still reporting (and keeping) the bytes
// that arrived.
std::optional<UrbResult> AttemptBulkTransfer(VirtualDevice& device,
                                             _URB_BULK_OR_INTERRUPT_TRANSFER& urb,
                                             const PipeEndpoint& pipe, ULONG& received);

}  // namespace usbsim
