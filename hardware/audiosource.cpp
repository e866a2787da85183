#include "hardware/audiosource.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hardware {

AudioSource::AudioSource(UCHAR endpointAddress, ULONG channels)
    : m_endpointAddress(endpointAddress), m_channels(channels == 0 ? 1 : channels)
{
}

void AudioSource::SetSilence()
{
    std::lock_guard lock(m_lock);
    m_signal = Signal::Silence;
    m_framesMade = 0;
}

void AudioSource::SetRamp(int32_t step)
{
    std::lock_guard lock(m_lock);
    m_signal = Signal::Ramp;
    m_rampStep = step;
    m_framesMade = 0;
}

int32_t AudioSource::RampValue(uint64_t sampleIndex, int32_t step)
{
    return Wrap24(int64_t(sampleIndex * uint64_t(int64_t(step))));
}

void AudioSource::SetSine(double frequencyHz, double amplitude)
{
    std::lock_guard lock(m_lock);
    m_signal = Signal::Sine;
    m_sineHz = frequencyHz;
    m_sineAmplitude = std::isfinite(amplitude) ? std::clamp(amplitude, 0.0, 1.0) : 0.0;
    m_framesMade = 0;
}

void AudioSource::SetLoopback(const AudioSink& sink, ULONG delayFrames)
{
    std::lock_guard lock(m_lock);
    m_signal = Signal::Loopback;
    m_loopSink = &sink;
    m_loopDelay = delayFrames;
    m_framesMade = 0;
}

void AudioSource::SetNominalPackets()
{
    std::lock_guard lock(m_lock);
    m_sizer.UseNominal();
}

void AudioSource::SetPacketPattern(std::vector<ULONG> frames)
{
    std::lock_guard lock(m_lock);
    m_sizer.UsePattern(std::move(frames));
}

ULONG AudioSource::Produce(ULONG frame, ULONG rate, std::span<uint8_t> buffer)
{
    std::lock_guard lock(m_lock);
    ULONG length = 0;
    if (m_signal == Signal::Loopback) {
        length = Loop(frame, rate, buffer);
    } else {
        const ULONG room = ULONG(buffer.size() / BytesPerFrame());
        const ULONG frames = std::min(m_sizer.NextFrames(rate), room);
        Generate(buffer.data(), frames, rate);
        length = frames * BytesPerFrame();
    }
    m_sent.Add(frame, buffer.first(length));
    return length;
}

ULONG AudioSource::Loop(ULONG frame, ULONG rate, std::span<uint8_t> buffer)
{
    const ULONG room = ULONG(buffer.size() / BytesPerFrame());
    // The sink's own lock is taken inside ours; the sink never calls back.
    const std::optional<std::vector<uint8_t>> heard = m_loopSink->PacketAt(frame - m_loopDelay);
    if (!heard) {
        const ULONG frames = std::min(m_sizer.NextFrames(rate), room);
        std::fill_n(buffer.begin(), frames * BytesPerFrame(), uint8_t(0));
        return frames * BytesPerFrame();
    }
    const ULONG renderFrameBytes = m_loopSink->BytesPerFrame();
    const ULONG frames = std::min(ULONG(heard->size() / renderFrameBytes), room);
    for (ULONG f = 0; f < frames; ++f) {
        for (ULONG c = 0; c < m_channels; ++c) {
            uint8_t* out = buffer.data() + (size_t(f) * m_channels + c) * kBytesPerSample;
            if (c < m_loopSink->Channels()) {
                const uint8_t* in = heard->data() + size_t(f) * renderFrameBytes + c * kBytesPerSample;
                std::copy_n(in, kBytesPerSample, out);
            } else {
                std::fill_n(out, kBytesPerSample, uint8_t(0));
            }
        }
    }
    m_framesMade += frames;
    return frames * BytesPerFrame();
}

void AudioSource::Generate(uint8_t* out, ULONG frames, ULONG rate)
{
    for (ULONG f = 0; f < frames; ++f, ++m_framesMade) {
        for (ULONG c = 0; c < m_channels; ++c, out += kBytesPerSample) {
            int32_t value = 0;
            if (m_signal == Signal::Ramp) {
                value = RampValue(m_framesMade * m_channels + c, m_rampStep);
            } else if (m_signal == Signal::Sine && rate != 0) {
                const double phase = 2 * std::numbers::pi * m_sineHz * double(m_framesMade) / rate;
                value = int32_t(std::lround(m_sineAmplitude * kSampleMax * std::sin(phase)));
            }
            WriteSample24(out, value);
        }
    }
}

std::vector<AudioPacket> AudioSource::Sent() const
{
    std::lock_guard lock(m_lock);
    return m_sent.Packets();
}

std::vector<int32_t> AudioSource::SentSamples() const
{
    std::lock_guard lock(m_lock);
    std::vector<int32_t> samples;
    for (const AudioPacket& p : m_sent.Packets()) {
        const std::vector<int32_t> part = DecodeSamples24(p.bytes);
        samples.insert(samples.end(), part.begin(), part.end());
    }
    return samples;
}

size_t AudioSource::SentCount() const
{
    std::lock_guard lock(m_lock);
    return m_sent.Count();
}

void AudioSource::SetHistoryLimit(size_t packets)
{
    std::lock_guard lock(m_lock);
    m_sent.SetLimit(packets);
}

void AudioSource::ClearSent()
{
    std::lock_guard lock(m_lock);
    m_sent.Clear();
}

}  // namespace hardware
