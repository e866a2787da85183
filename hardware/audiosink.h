// An isochronous OUT endpoint taken as audio hardware: it records every
// packet as the device received it, by USB frame, and reads the recording
// back as 24-bit samples. Written by the bus's worker, read by tests.
#pragma once

#include "hardware/packetlog.h"
#include "hardware/sample24.h"

#include <mutex>
#include <optional>

namespace hardware {

class AudioSink {
public:
    AudioSink(UCHAR endpointAddress, ULONG channels);

    UCHAR EndpointAddress() const { return m_endpointAddress; }
    ULONG Channels() const { return m_channels; }
    ULONG BytesPerFrame() const { return m_channels * ULONG(kBytesPerSample); }

    // ---- The wire ----
    void Receive(ULONG frame, std::span<const uint8_t> packet);

    // ---- Observation ----
    std::vector<AudioPacket> Packets() const;
    size_t PacketCount() const;
    // The packet received in frame, if it is still recorded.
    std::optional<std::vector<uint8_t>> PacketAt(ULONG frame) const;
    // Every recorded byte, packet after packet.
    std::vector<uint8_t> Bytes() const;
    // Interleaved samples of every whole frame of every packet; the bytes
    // of a packet that do not make up a whole frame are left out (and the
    // packet is counted as misaligned), so one bad packet does not shift
    // the channels of everything after it.
    std::vector<int32_t> Samples() const;
    // One channel's samples, in order.
    std::vector<int32_t> ChannelSamples(ULONG channel) const;
    // Packets whose length was not a whole number of frames.
    size_t MisalignedPackets() const;
    size_t DroppedPackets() const;

    void SetHistoryLimit(size_t packets);
    void Clear();

private:
    const UCHAR m_endpointAddress;
    const ULONG m_channels;
    mutable std::mutex m_lock;
    PacketLog m_log;
    size_t m_misaligned = 0;
};

}  // namespace hardware
