// The signals the host plays and what it learns from what comes back.
#pragma once

#include "audiofile.h"
#include "streamprocessor.h"

#include <optional>
#include <string>

// A counting signal that names every sample: channel c of frame n holds a
// value from which n can be told back (modulo the period), and no value is
// zero, so the first sample that returns through a loopback marks where
// the played signal begins. It checks what returns sample by sample.
class LoopbackCheck : public StreamProcessor {
public:
    void Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits) override;
    void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) override;

    // Frames between playing a sample and recording it, once seen.
    std::optional<int64_t> RoundTrip() const { return m_roundTrip; }
    uint64_t SamplesChecked() const { return m_checked; }
    uint64_t Mismatches() const { return m_mismatches; }
    // The first mismatch, described; empty when none.
    const std::string& FirstMismatch() const { return m_firstMismatch; }
    size_t LoopedChannels() const { return m_looped; }

private:
    int32_t Expected(size_t channel, int64_t frame) const;

    size_t m_looped = 0;  // channels both played and recorded
    unsigned m_bits = 24;
    int64_t m_period = 1;
    std::optional<int64_t> m_roundTrip;
    uint64_t m_checked = 0;
    uint64_t m_mismatches = 0;
    std::string m_firstMismatch;
};

// Single full-scale clicks far enough apart to be told apart, and the
// round trip of each as it returns on input channel 0.
class ClickLatency : public StreamProcessor {
public:
    void Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits) override;
    void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) override;

    const std::vector<int64_t>& RoundTrips() const { return m_roundTrips; }

private:
    int64_t m_spacing = 0;  // frames between clicks
    int32_t m_level = 0;
    std::vector<int64_t> m_sent;  // output frame of each click
    std::vector<int64_t> m_roundTrips;
    int64_t m_quietUntil = 0;  // recorded frame before which no new click is taken
    size_t m_inputs = 0;
};

// A sine on every output channel; what is recorded is kept when asked.
class TonePlayer : public StreamProcessor {
public:
    TonePlayer(double frequency, double level) : m_frequency(frequency), m_level(level) {}
    void Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits) override;
    void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) override;

private:
    double m_frequency;
    double m_level;
    double m_rate = 48000;
    unsigned m_bits = 24;
};

// A sound file on the outputs, once, then silence. A mono file goes to
// every output; otherwise file channel c to output c.
class ClipPlayer : public StreamProcessor {
public:
    explicit ClipPlayer(const AudioClip& clip) : m_clip(clip) {}
    void Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits) override;
    void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) override;

private:
    const AudioClip& m_clip;
    unsigned m_shift = 8;  // from 32-bit full scale to the stream's width
};

// Keeps what the inputs recorded (up to a length fixed beforehand, so the
// driver's thread never allocates) while another processor plays.
class Recorder : public StreamProcessor {
public:
    Recorder(StreamProcessor* player, size_t maxFrames) : m_player(player), m_maxFrames(maxFrames) {}
    void Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits) override;
    void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) override;
    // The recording at 32-bit full scale, once streaming has stopped.
    const AudioClip& Finish();

private:
    StreamProcessor* m_player;  // may be null: silence out
    size_t m_maxFrames;
    unsigned m_shift = 8;
    size_t m_frames = 0;
    AudioClip m_clip;
};
