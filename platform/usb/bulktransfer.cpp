#include "usb/bulktransfer.h"

#include "km/verifier.h"

#include <algorithm>
#include <string>

namespace usbsim {

std::optional<UrbResult> CheckBulkTransfer(const _URB_BULK_OR_INTERRUPT_TRANSFER& urb,
                                           const PipeEndpoint& pipe)
{
    if (pipe.type != USB_ENDPOINT_TYPE_BULK && pipe.type != USB_ENDPOINT_TYPE_INTERRUPT)
        return Failure(USBD_STATUS_INVALID_PARAMETER);
    if (urb.TransferBufferLength && !urb.TransferBuffer)
        return Failure(USBD_STATUS_INVALID_PARAMETER);  // MDL-only buffers are not mapped here
    if (pipe.In() && urb.TransferBufferLength && pipe.maxPacketSize == 0)
        return Failure(USBD_STATUS_INVALID_PARAMETER);  // could never make progress
    return std::nullopt;
}

std::optional<UrbResult> AttemptBulkTransfer(VirtualDevice& device,
                                             _URB_BULK_OR_INTERRUPT_TRANSFER& urb,
                                             const PipeEndpoint& pipe, ULONG& received)
{
    auto* buffer = static_cast<uint8_t*>(urb.TransferBuffer);
    const ULONG length = urb.TransferBufferLength;
    if (!pipe.In()) {
        if (!device.BulkOut(pipe.address, {length ? buffer : nullptr, length})) return std::nullopt;
        return UrbResult{};
    }

    auto end = [&](const UrbResult& result) {
        urb.TransferBufferLength = received;
        return result;
    };
    do {
        const ULONG room = std::min<ULONG>(length - received, pipe.maxPacketSize);
        USBD_STATUS status = USBD_STATUS_SUCCESS;
        std::optional<ULONG> got =
            device.BulkIn(pipe.address, {room ? buffer + received : nullptr, room}, &status);
        if (!got) {
            if (USBD_ERROR(status)) return end(Failure(status));
            return std::nullopt;
        }
        if (*got > room) {
            kmsim::ReportViolation("usb", "device wrote a bulk IN packet of " + std::to_string(*got) +
                                              " bytes into room for " + std::to_string(room));
            got = room;
        }
        received += *got;
        if (*got < pipe.maxPacketSize) break;  // a short packet ends the read
    } while (received < length);

    if (received < length && !(urb.TransferFlags & USBD_SHORT_TRANSFER_OK))
        return end(Failure(USBD_STATUS_ERROR_SHORT_TRANSFER));
    return end({});
}

}  // namespace usbsim
