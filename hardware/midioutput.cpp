#include "hardware/midioutput.h"

#include "hardware/midiwire.h"

namespace hardware {

MidiOutput::MidiOutput(UCHAR endpointAddress, MidiFormat format, size_t maxPacket)
    : m_endpointAddress(endpointAddress), m_maxPacket(maxPacket), m_wire(MakeMidiWire(format))
{
}

void MidiOutput::SetWake(std::function<void()> wake)
{
    std::lock_guard lock(m_lock);
    m_wake = std::move(wake);
}

void MidiOutput::SetAnswering(bool answering)
{
    std::function<void()> wake;
    {
        std::lock_guard lock(m_lock);
        m_answering = answering;
        if (answering) wake = m_wake;
    }
    if (wake) wake();
}

bool MidiOutput::Receive(std::span<const uint8_t> transfer)
{
    // Runs of messages on one cable, in the order they completed.
    std::vector<std::pair<uint8_t, std::vector<MidiBytes>>> runs;
    {
        std::lock_guard lock(m_lock);
        if (!m_answering) {
            ++m_refused;
            return false;
        }
        // A pipe that declares no packet size gets the transfer as one packet.
        std::vector<MidiBytes> packets = SplitIntoPackets(transfer, m_maxPacket ? m_maxPacket : transfer.size());
        if (packets.empty()) packets.emplace_back();  // a zero-length packet
        for (MidiBytes& packet : packets) {
            std::vector<MidiPiece> pieces;
            m_wire->Unpack(packet, pieces, m_faults);
            for (MidiPiece& piece : pieces) {
                const uint8_t number = piece.cable % kMidiCables;
                Cable& cable = m_cables[number];
                cable.packets.push_back(std::move(piece.unit));
                std::vector<MidiBytes> messages;
                cable.decoder.Feed(piece.bytes, messages, m_faults);
                if (messages.empty()) continue;
                cable.messages.insert(cable.messages.end(), messages.begin(), messages.end());
                if (runs.empty() || runs.back().first != number) runs.emplace_back(number, std::vector<MidiBytes>{});
                auto& run = runs.back().second;
                run.insert(run.end(), messages.begin(), messages.end());
            }
            m_transfers.push_back(std::move(packet));
        }
    }
    // Outside our lock: the echo takes the IN endpoint's.
    for (const auto& [cable, messages] : runs) m_echo.Forward(cable, messages);
    return true;
}

std::vector<MidiBytes> MidiOutput::Transfers() const
{
    std::lock_guard lock(m_lock);
    return m_transfers;
}

std::vector<MidiBytes> MidiOutput::Packets(uint8_t cable) const
{
    std::lock_guard lock(m_lock);
    return cable < kMidiCables ? m_cables[cable].packets : std::vector<MidiBytes>{};
}

MidiBytes MidiOutput::Stream(uint8_t cable) const
{
    MidiBytes stream;
    for (const MidiBytes& m : Messages(cable)) stream.insert(stream.end(), m.begin(), m.end());
    return stream;
}

std::vector<MidiBytes> MidiOutput::Messages(uint8_t cable) const
{
    std::lock_guard lock(m_lock);
    return cable < kMidiCables ? m_cables[cable].messages : std::vector<MidiBytes>{};
}

std::vector<std::string> MidiOutput::Faults() const
{
    std::lock_guard lock(m_lock);
    return m_faults;
}

ULONG MidiOutput::Refused() const
{
    std::lock_guard lock(m_lock);
    return m_refused;
}

void MidiOutput::Clear()
{
    std::lock_guard lock(m_lock);
    m_transfers.clear();
    m_faults.clear();
    m_refused = 0;
    for (Cable& c : m_cables) {
        c.packets.clear();
        c.messages.clear();
    }
}

}  // namespace hardware
