// One isochronous transfer on the virtual bus: its checks, its place in
// time (one packet per 1-ms frame) and the packets the device sends or
// receives. The bus keeps the list; this file keeps the rules.
#pragma once

#include "usb/busdevice.h"

#include <optional>

namespace usbsim {

// How far from the current frame an explicit StartFrame may lie, either way.
constexpr ULONG kIsochronousWindow = 1024;

struct IsochronousSchedule {
    ULONG startFrame = 0;  // frame of packet 0
    ULONG packets = 0;
    ULONG LastFrame() const { return startFrame + packets - 1; }
    // The packet that runs in `frame`, if any (signed distance, so the
    // schedule follows the 32-bit counter across its wrap).
    std::optional<ULONG> PacketIn(ULONG frame) const
    {
        const LONG k = LONG(frame - startFrame);
        if (k < 0 || ULONG(k) >= packets) return std::nullopt;
        return ULONG(k);
    }
};

// Checks the request against its pipe and places it in time. `current` is
// the frame the clock shows, `sealed` the last frame whose packets are fixed
// (frames up to it have passed for a new transfer), `nextFree` the frame
// after the pipe's last scheduled packet, if the pipe has one. Packets whose
// frame has passed are marked late now. A failure fails the whole transfer
// and leaves nothing scheduled.
std::optional<UrbResult> ScheduleIsochronous(_URB_ISOCH_TRANSFER& urb, const PipeEndpoint& pipe,
                                             ULONG current, ULONG sealed,
                                             std::optional<ULONG> nextFree,
                                             IsochronousSchedule* schedule);

// Moves packet k in `frame`: IN packets take what the device produced, OUT
// packets hand their bytes to the device.
void RunIsochronousPacket(VirtualDevice& device, _URB_ISOCH_TRANSFER& urb,
                          const PipeEndpoint& pipe, ULONG packet, ULONG frame);

// Marks packet k as not sent: its frame passed before it could run.
void MissIsochronousPacket(_URB_ISOCH_TRANSFER& urb, const PipeEndpoint& pipe, ULONG packet);

// The status of a transfer whose packets have all run or been marked.
UrbResult IsochronousOutcome(const _URB_ISOCH_TRANSFER& urb);

}  // namespace usbsim
