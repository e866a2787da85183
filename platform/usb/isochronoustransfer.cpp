#include "usb/isochronoustransfer.h"

#include "km/verifier.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace usbsim {

namespace {

// The descriptors run past the declared one-element array.
USBD_ISO_PACKET_DESCRIPTOR* Packets(_URB_ISOCH_TRANSFER& urb) { return urb.IsoPacket; }
const USBD_ISO_PACKET_DESCRIPTOR* Packets(const _URB_ISOCH_TRANSFER& urb) { return urb.IsoPacket; }

// An IN packet's room runs from its Offset to the next packet's Offset (the
// last one to the end of the buffer).
ULONG InRoom(const _URB_ISOCH_TRANSFER& urb, ULONG k)
{
    const ULONG end = k + 1 < urb.NumberOfPackets ? Packets(urb)[k + 1].Offset
                                                 : urb.TransferBufferLength;
    return end - Packets(urb)[k].Offset;
}

bool PacketsFitBuffer(const _URB_ISOCH_TRANSFER& urb, bool in)
{
    const USBD_ISO_PACKET_DESCRIPTOR* packets = Packets(urb);
    for (ULONG k = 0; k < urb.NumberOfPackets; ++k) {
        const ULONG offset = packets[k].Offset;
        if (offset > urb.TransferBufferLength) return false;
        if (in) {
            // Rooms must not overlap: offsets never go backwards.
            if (k + 1 < urb.NumberOfPackets && packets[k + 1].Offset < offset) return false;
        } else if (packets[k].Length > urb.TransferBufferLength - offset) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<UrbResult> ScheduleIsochronous(_URB_ISOCH_TRANSFER& urb, const PipeEndpoint& pipe,
                                             ULONG current, ULONG sealed,
                                             std::optional<ULONG> nextFree,
                                             IsochronousSchedule* schedule)
{
    if (pipe.type != USB_ENDPOINT_TYPE_ISOCHRONOUS) return Failure(USBD_STATUS_INVALID_PARAMETER);
    const ULONG count = urb.NumberOfPackets;
    if (count == 0 || count > kIsochronousWindow) return Failure(USBD_STATUS_INVALID_PARAMETER);
    if (urb.TransferBufferLength && !urb.TransferBuffer)
        return Failure(USBD_STATUS_INVALID_PARAMETER);  // MDL-only buffers are not mapped here
    const bool in = pipe.In();
    if (!PacketsFitBuffer(urb, in)) return Failure(USBD_STATUS_INVALID_PARAMETER);
    if (!in) {
        for (ULONG k = 0; k < count; ++k)
            if (Packets(urb)[k].Length > pipe.maxPacketSize)
                return Failure(USBD_STATUS_INVALID_PARAMETER);
    }

    ULONG start;
    if (urb.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) {
        start = sealed + 1;
        if (nextFree && LONG(*nextFree - start) > 0) start = *nextFree;
    } else {
        start = urb.StartFrame;
        const LONG distance = LONG(start - current);
        if (distance > LONG(kIsochronousWindow) || distance < -LONG(kIsochronousWindow))
            return Failure(USBD_STATUS_BAD_START_FRAME);
    }
    urb.StartFrame = start;
    urb.ErrorCount = 0;

    USBD_ISO_PACKET_DESCRIPTOR* packets = Packets(urb);
    for (ULONG k = 0; k < count; ++k) {
        packets[k].Status = USBD_STATUS_PENDING;
        if (in) packets[k].Length = 0;
        if (LONG(start + k - sealed) <= 0) MissIsochronousPacket(urb, pipe, k);
    }
    *schedule = {start, count};
    return std::nullopt;
}

void RunIsochronousPacket(VirtualDevice& device, _URB_ISOCH_TRANSFER& urb,
                          const PipeEndpoint& pipe, ULONG packet, ULONG frame)
{
    USBD_ISO_PACKET_DESCRIPTOR& d = Packets(urb)[packet];
    if (d.Status != USBD_STATUS_PENDING) return;  // marked late when handed down
    auto* buffer = static_cast<uint8_t*>(urb.TransferBuffer);
    if (pipe.In()) {
        const ULONG room = std::min<ULONG>(InRoom(urb, packet), pipe.maxPacketSize);
        ULONG length = device.IsochronousIn(pipe.address, frame,
                                            {room ? buffer + d.Offset : nullptr, room});
        if (length > room) {
            kmsim::ReportViolation("usb", "device wrote an isochronous IN packet of " +
                                              std::to_string(length) + " bytes into room for " +
                                              std::to_string(room));
            length = room;
        }
        d.Length = length;
    } else {
        device.IsochronousOut(pipe.address, frame,
                              {d.Length ? buffer + d.Offset : nullptr, d.Length});
    }
    d.Status = USBD_STATUS_SUCCESS;
}

void MissIsochronousPacket(_URB_ISOCH_TRANSFER& urb, const PipeEndpoint& pipe, ULONG packet)
{
    USBD_ISO_PACKET_DESCRIPTOR& d = Packets(urb)[packet];
    if (d.Status != USBD_STATUS_PENDING) return;
    d.Status = USBD_STATUS_ISO_NOT_ACCESSED_LATE;
    if (pipe.In()) d.Length = 0;
    ++urb.ErrorCount;
}

UrbResult IsochronousOutcome(const _URB_ISOCH_TRANSFER& urb)
{
    // Some packets through is a success the caller reads packet by packet;
    // none through fails the request.
    if (urb.ErrorCount >= urb.NumberOfPackets) return Failure(USBD_STATUS_ISOCH_REQUEST_FAILED);
    return {};
}

}  // namespace usbsim
