#include "hardware/midiinput.h"

#include "hardware/midistreamdecoder.h"

#include <algorithm>
#include <stdexcept>

namespace hardware {

MidiInput::MidiInput(UCHAR endpointAddress, MidiFormat format, size_t maxPacket)
    : m_endpointAddress(endpointAddress), m_maxPacket(maxPacket), m_wire(MakeMidiWire(format))
{
}

void MidiInput::SetWake(std::function<void()> wake)
{
    std::lock_guard lock(m_lock);
    m_wake = std::move(wake);
}

void MidiInput::QueuePacket(MidiBytes packet) { Enqueue({std::move(packet)}); }

void MidiInput::Send(std::span<const uint8_t> bytes, uint8_t cable)
{
    MidiStreamDecoder decoder;
    std::vector<MidiBytes> messages;
    std::vector<std::string> faults;
    decoder.Feed(bytes, messages, faults);
    if (!faults.empty())
        throw std::invalid_argument("MIDI bytes to send are not well formed: " + faults.front());
    SendMessages(cable, messages);
}

void MidiInput::SendMessages(uint8_t cable, std::span<const MidiBytes> messages)
{
    std::vector<MidiBytes> packets;
    {
        std::lock_guard lock(m_lock);
        if (cable >= m_wire->Cables())
            throw std::invalid_argument("cable " + std::to_string(cable) + " on a " +
                                        MidiFormatName(m_wire->Format()) + " MIDI endpoint");
        packets = m_wire->Pack(cable, messages, m_maxPacket);
    }
    Enqueue(std::move(packets));
}

void MidiInput::Enqueue(std::vector<MidiBytes> packets)
{
    std::function<void()> wake;
    {
        std::lock_guard lock(m_lock);
        for (MidiBytes& p : packets) {
            if (m_queue.size() >= kQueueLimit) {
                ++m_dropped;
                continue;
            }
            m_queue.push_back(std::move(p));
        }
        wake = m_wake;
    }
    if (wake) wake();  // outside the lock: the bus may read at once
}

void MidiInput::FailReads(USBD_STATUS status, ULONG count)
{
    std::lock_guard lock(m_lock);
    m_failStatus = status;
    m_failCount = count;
}

void MidiInput::StopFailing()
{
    std::lock_guard lock(m_lock);
    m_failCount = 0;
}

std::optional<ULONG> MidiInput::Read(std::span<uint8_t> buffer, USBD_STATUS* status)
{
    std::lock_guard lock(m_lock);
    if (m_failCount > 0) {
        if (m_failCount != kAlways) --m_failCount;
        ++m_failed;
        *status = m_failStatus;
        return std::nullopt;
    }
    if (m_queue.empty()) return std::nullopt;
    MidiBytes& front = m_queue.front();
    const size_t n = std::min(front.size(), buffer.size());
    std::copy_n(front.begin(), n, buffer.begin());
    m_delivered.emplace_back(front.begin(), front.begin() + n);
    if (n == front.size())
        m_queue.pop_front();
    else
        front.erase(front.begin(), front.begin() + n);  // the rest follows in the next read
    *status = USBD_STATUS_SUCCESS;
    return ULONG(n);
}

size_t MidiInput::Queued() const
{
    std::lock_guard lock(m_lock);
    return m_queue.size();
}

std::vector<MidiBytes> MidiInput::Delivered() const
{
    std::lock_guard lock(m_lock);
    return m_delivered;
}

ULONG MidiInput::FailedReads() const
{
    std::lock_guard lock(m_lock);
    return m_failed;
}

size_t MidiInput::DroppedPackets() const
{
    std::lock_guard lock(m_lock);
    return m_dropped;
}

}  // namespace hardware
