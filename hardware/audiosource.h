// An isochronous IN endpoint taken as audio hardware: each packet the host
// asks for is filled from a signal (silence, a ramp, a sine, or a loopback
// of what an OUT endpoint received some frames earlier), with the length
// the device chooses. Every packet sent is recorded. Produce runs on the
// bus's worker; tests script and read from their own thread.
#pragma once

#include "hardware/audiosink.h"
#include "hardware/packetsizer.h"

#include <mutex>

namespace hardware {

class AudioSource {
public:
    AudioSource(UCHAR endpointAddress, ULONG channels);

    UCHAR EndpointAddress() const { return m_endpointAddress; }
    ULONG Channels() const { return m_channels; }
    ULONG BytesPerFrame() const { return m_channels * ULONG(kBytesPerSample); }

    // ---- Signals (each restarts the signal's frame count at 0) ----
    void SetSilence();
    // Counts through the interleaved samples: sample i of the stream
    // (frame i / channels, channel i % channels) is RampValue(i, step).
    void SetRamp(int32_t step = 1);
    static int32_t RampValue(uint64_t sampleIndex, int32_t step = 1);
    // The same sine on every channel; amplitude is a fraction of full
    // scale (clamped to [0, 1]), the phase runs on across packets.
    void SetSine(double frequencyHz, double amplitude);
    // Packet of frame f = the packet `sink` received in frame f - delay,
    // with as many frames as it had; capture channel c carries render
    // channel c (channels 0 and 1 of a 4-channel render endpoint on a
    // stereo capture one). A frame the sink has no packet for gives a
    // packet of silence sized as usual. `sink` must outlive the loopback.
    void SetLoopback(const AudioSink& sink, ULONG delayFrames);

    // ---- Packet lengths ----
    void SetNominalPackets();
    // Frame counts repeated in turn; 0 sends a zero-length packet. Counts
    // that do not fit the host's room for a packet are cut to it.
    void SetPacketPattern(std::vector<ULONG> frames);

    // ---- The wire ----
    // Writes the packet of `frame` at `rate` Hz into buffer (whole frames,
    // never more than buffer.size()) and returns its length in bytes.
    ULONG Produce(ULONG frame, ULONG rate, std::span<uint8_t> buffer);

    // ---- Observation ----
    std::vector<AudioPacket> Sent() const;
    // Interleaved samples of everything sent.
    std::vector<int32_t> SentSamples() const;
    size_t SentCount() const;
    void SetHistoryLimit(size_t packets);
    void ClearSent();

private:
    enum class Signal { Silence, Ramp, Sine, Loopback };

    // Under m_lock. Each writes `frames` whole frames at out.
    void Generate(uint8_t* out, ULONG frames, ULONG rate);
    ULONG Loop(ULONG frame, ULONG rate, std::span<uint8_t> buffer);

    const UCHAR m_endpointAddress;
    const ULONG m_channels;
    mutable std::mutex m_lock;
    Signal m_signal = Signal::Silence;
    int32_t m_rampStep = 1;
    double m_sineHz = 0;
    double m_sineAmplitude = 0;
    const AudioSink* m_loopSink = nullptr;
    ULONG m_loopDelay = 0;
    uint64_t m_framesMade = 0;  // frames of the current signal so far
    PacketSizer m_sizer;
    PacketLog m_sent;
};

}  // namespace hardware
