#include "hardware/audiosink.h"

namespace hardware {

AudioSink::AudioSink(UCHAR endpointAddress, ULONG channels)
    : m_endpointAddress(endpointAddress), m_channels(channels == 0 ? 1 : channels)
{
}

void AudioSink::Receive(ULONG frame, std::span<const uint8_t> packet)
{
    std::lock_guard lock(m_lock);
    m_log.Add(frame, packet);
    if (packet.size() % BytesPerFrame() != 0) ++m_misaligned;
}

std::vector<AudioPacket> AudioSink::Packets() const
{
    std::lock_guard lock(m_lock);
    return m_log.Packets();
}

size_t AudioSink::PacketCount() const
{
    std::lock_guard lock(m_lock);
    return m_log.Count();
}

std::optional<std::vector<uint8_t>> AudioSink::PacketAt(ULONG frame) const
{
    std::lock_guard lock(m_lock);
    const AudioPacket* packet = m_log.Find(frame);
    if (!packet) return std::nullopt;
    return packet->bytes;
}

std::vector<uint8_t> AudioSink::Bytes() const
{
    std::lock_guard lock(m_lock);
    std::vector<uint8_t> all;
    for (const AudioPacket& p : m_log.Packets()) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    return all;
}

std::vector<int32_t> AudioSink::Samples() const
{
    std::lock_guard lock(m_lock);
    std::vector<int32_t> samples;
    for (const AudioPacket& p : m_log.Packets()) {
        const size_t whole = p.bytes.size() / BytesPerFrame() * BytesPerFrame();
        const std::vector<int32_t> part = DecodeSamples24(std::span(p.bytes).first(whole));
        samples.insert(samples.end(), part.begin(), part.end());
    }
    return samples;
}

std::vector<int32_t> AudioSink::ChannelSamples(ULONG channel) const
{
    std::vector<int32_t> one;
    if (channel >= m_channels) return one;
    const std::vector<int32_t> all = Samples();
    for (size_t i = channel; i < all.size(); i += m_channels) one.push_back(all[i]);
    return one;
}

size_t AudioSink::MisalignedPackets() const
{
    std::lock_guard lock(m_lock);
    return m_misaligned;
}

size_t AudioSink::DroppedPackets() const
{
    std::lock_guard lock(m_lock);
    return m_log.Dropped();
}

void AudioSink::SetHistoryLimit(size_t packets)
{
    std::lock_guard lock(m_lock);
    m_log.SetLimit(packets);
}

void AudioSink::Clear()
{
    std::lock_guard lock(m_lock);
    m_log.Clear();
    m_misaligned = 0;
}

}  // namespace hardware
