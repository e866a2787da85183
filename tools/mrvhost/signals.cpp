#include "signals.h"

#include "hostsamples.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <numbers>

void LoopbackCheck::Prepare(size_t inputs, size_t outputs, size_t, double, unsigned bits)
{
    m_looped = inputs < outputs ? inputs : outputs;
    m_bits = bits;
    // Positive values 1 .. 2^(bits-1) - 1: never silence, never clipped.
    m_period = (int64_t(1) << (bits - 1)) - 1;
    if (m_period > (int64_t(1) << 23) - 1) m_period = (int64_t(1) << 23) - 1;
}

int32_t LoopbackCheck::Expected(size_t channel, int64_t frame) const
{
    // Channels are a seventh of the period apart, so a channel swap shows.
    const int64_t n = frame + int64_t(channel) * (m_period / 7);
    return int32_t(n % m_period) + 1;
}

void LoopbackCheck::Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position)
{
    const size_t frames = outputs.Frames();
    for (size_t c = 0; c < outputs.channels.size(); ++c) {
        for (size_t i = 0; i < frames; ++i) outputs.channels[c][i] = Expected(c, position + int64_t(i));
    }
    if (m_looped == 0) return;
    for (size_t i = 0; i < inputs.Frames(); ++i) {
        const int64_t recorded = position + int64_t(i);
        if (!m_roundTrip) {
            const int32_t first = inputs.channels[0][i];
            if (first == 0) continue;
            // Frames played before this one: the value names it, and the
            // round trip is shorter than the period.
            const int64_t played = int64_t(first) - 1;
            m_roundTrip = (recorded - played) - ((recorded - played) / m_period) * m_period;
            if (m_roundTrip < 0) *m_roundTrip += m_period;
        }
        const int64_t played = recorded - *m_roundTrip;
        for (size_t c = 0; c < m_looped; ++c) {
            const int32_t expected = played < 0 ? 0 : Expected(c, played);
            const int32_t got = inputs.channels[c][i];
            ++m_checked;
            if (got != expected && m_mismatches++ == 0) {
                char text[160];
                snprintf(text, sizeof text, "input %zu, frame %lld: %ld where %ld was played", c + 1,
                         static_cast<long long>(recorded), long(got), long(expected));
                m_firstMismatch = text;
            }
        }
    }
}

void ClickLatency::Prepare(size_t inputs, size_t outputs, size_t, double rate, unsigned bits)
{
    m_inputs = inputs;
    m_spacing = int64_t(rate / 4);  // a quarter second: longer than any round trip worth measuring
    m_level = outputs ? ScaleToBits(0.5, bits) : 0;
}

void ClickLatency::Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position)
{
    const size_t frames = outputs.Frames();
    for (size_t i = 0; i < frames && m_level; ++i) {
        const int64_t frame = position + int64_t(i);
        if (frame % m_spacing != m_spacing / 2) continue;
        for (auto& channel : outputs.channels) channel[i] = m_level;
        m_sent.push_back(frame);
    }
    if (m_inputs == 0) return;
    for (size_t i = 0; i < inputs.Frames(); ++i) {
        const int64_t recorded = position + int64_t(i);
        // Half the level is a click even through an analogue loop; what
        // follows it within half the spacing is its ringing.
        if (std::abs(int64_t(inputs.channels[0][i])) < m_level / 2 || recorded < m_quietUntil) continue;
        m_quietUntil = recorded + m_spacing / 2;
        const size_t answered = m_roundTrips.size();
        if (answered < m_sent.size()) m_roundTrips.push_back(recorded - m_sent[answered]);
    }
}

void TonePlayer::Prepare(size_t, size_t, size_t, double rate, unsigned bits)
{
    m_rate = rate > 0 ? rate : 48000;
    m_bits = bits;
}

void TonePlayer::Process(const ChannelBlock&, ChannelBlock& outputs, int64_t position)
{
    const size_t frames = outputs.Frames();
    for (size_t i = 0; i < frames; ++i) {
        const double phase = 2 * std::numbers::pi * m_frequency * double(position + int64_t(i)) / m_rate;
        const int32_t value = ScaleToBits(m_level * std::sin(phase), m_bits);
        for (auto& channel : outputs.channels) channel[i] = value;
    }
}

void ClipPlayer::Prepare(size_t, size_t, size_t, double, unsigned bits) { m_shift = 32 - bits; }

void ClipPlayer::Process(const ChannelBlock&, ChannelBlock& outputs, int64_t position)
{
    const size_t frames = outputs.Frames();
    for (size_t i = 0; i < frames; ++i) {
        const size_t frame = size_t(position) + i;
        if (frame >= m_clip.Frames()) break;
        for (size_t c = 0; c < outputs.channels.size(); ++c) {
            const unsigned source = m_clip.channels == 1 ? 0 : unsigned(c);
            if (source >= m_clip.channels) continue;
            outputs.channels[c][i] = m_clip.samples[frame * m_clip.channels + source] >> m_shift;
        }
    }
}

void Recorder::Prepare(size_t inputs, size_t outputs, size_t frames, double rate, unsigned bits)
{
    if (m_player) m_player->Prepare(inputs, outputs, frames, rate, bits);
    m_shift = 32 - bits;
    m_frames = 0;
    m_clip.channels = unsigned(inputs);
    m_clip.rate = rate;
    m_clip.samples.assign(m_maxFrames * inputs, 0);
}

void Recorder::Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position)
{
    if (m_player) m_player->Process(inputs, outputs, position);
    const size_t channels = inputs.channels.size();
    for (size_t i = 0; i < inputs.Frames() && m_frames < m_maxFrames; ++i, ++m_frames) {
        for (size_t c = 0; c < channels; ++c) {
            m_clip.samples[m_frames * channels + c] = int32_t(uint32_t(inputs.channels[c][i]) << m_shift);
        }
    }
}

const AudioClip& Recorder::Finish()
{
    m_clip.samples.resize(m_frames * m_clip.channels);
    return m_clip;
}
