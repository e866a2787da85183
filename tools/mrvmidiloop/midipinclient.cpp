#include "midipinclient.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

MidiPinClient::MidiPinClient(kmsim::KsClientHandle& filter, ULONG pinId, bool hidden)
{
    KSPIN_CONNECT connect{};
    connect.Interface.Set = KSINTERFACESETID_Standard;
    connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect.Medium.Set = KSMEDIUMSETID_Standard;
    connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect.PinId = pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect.Priority.PrioritySubClass = 1;
    KSDATAFORMAT format{};
    format.FormatSize = sizeof(format);
    format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    format.SubFormat = hidden ? KSDATAFORMAT_SUBTYPE_HiddenMidi : KSDATAFORMAT_SUBTYPE_MIDI;
    format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    m_status = filter.CreatePin(connect, &format, &m_pin);
    if (NT_SUCCESS(m_status)) m_status = m_pin->SetState(KSSTATE_RUN);
}

MidiPinClient::~MidiPinClient()
{
    if (!m_pin) return;
    CancelAll();
    if (m_pin->IsOpen()) {
        m_pin->SetState(KSSTATE_STOP);
        m_pin->Close();
    }
}

NTSTATUS MidiPinClient::Queue(std::vector<uint8_t> bytes, bool read)
{
    Frame& frame = m_frames.emplace_back();
    frame.data = std::move(bytes);
    frame.read = read;
    frame.header.Size = sizeof(KSSTREAM_HEADER);
    frame.header.FrameExtent = ULONG(frame.data.size());
    frame.header.DataUsed = read ? 0 : ULONG(frame.data.size());
    frame.header.Data = frame.data.data();
    const NTSTATUS status = m_pin->SubmitStream(read ? IOCTL_KS_READ_STREAM : IOCTL_KS_WRITE_STREAM, &frame.header,
                                                sizeof(frame.header), &frame.request);
    if (!frame.request) m_frames.pop_back();
    return status;
}

NTSTATUS MidiPinClient::Write(const std::vector<uint8_t>& event)
{
    // The event's bytes padded to four, behind its header.
    std::vector<uint8_t> frame((sizeof(KSMUSICFORMAT) + event.size() + 3) & ~size_t(3), 0);
    const KSMUSICFORMAT header{0, ULONG(event.size())};
    std::memcpy(frame.data(), &header, sizeof(header));
    std::copy(event.begin(), event.end(), frame.begin() + sizeof(header));
    return Queue(std::move(frame), false);
}

NTSTATUS MidiPinClient::Read(ULONG bytes) { return Queue(std::vector<uint8_t>(bytes, 0xEE), true); }

void MidiPinClient::TakeCompleted(std::vector<Event>* events, NTSTATUS* failed)
{
    while (!m_frames.empty() && m_frames.front().request->Done()) {
        Frame& frame = m_frames.front();
        const NTSTATUS status = frame.request->Wait();
        if (!NT_SUCCESS(status)) *failed = status;
        // Events follow one another on 4-byte boundaries.
        size_t at = 0;
        while (frame.read && NT_SUCCESS(status) && at + sizeof(KSMUSICFORMAT) <= frame.header.DataUsed) {
            KSMUSICFORMAT header;
            std::memcpy(&header, frame.data.data() + at, sizeof(header));
            const size_t n = std::min<size_t>(header.ByteCount, frame.header.DataUsed - at - sizeof(header));
            const auto begin = frame.data.begin() + ptrdiff_t(at + sizeof(header));
            events->push_back({header.TimeDeltaMs, std::vector<uint8_t>(begin, begin + ptrdiff_t(n))});
            at += (sizeof(header) + n + 3) & ~size_t(3);
        }
        m_frames.pop_front();
    }
}

bool MidiPinClient::AllEnded(unsigned ms)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (Frame& frame : m_frames) {
        while (!frame.request->Done()) {
            if (std::chrono::steady_clock::now() > giveUp) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void MidiPinClient::CancelAll()
{
    for (Frame& frame : m_frames) frame.request->Cancel();
    for (Frame& frame : m_frames) frame.request->Wait();
    m_frames.clear();
}
