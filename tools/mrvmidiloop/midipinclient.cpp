#include "midipinclient.h"

#include "kspinrequests.h"

#include <algorithm>
#include <cstring>

MidiPinClient::MidiPinClient(kmsim::KsClientHandle& filter, ULONG pinId, bool hidden)
{
    const KSDATAFORMAT format = MidiFormat(hidden);
    m_status = filter.CreatePin(PinConnect(pinId), &format, &m_pin);
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

NTSTATUS MidiPinClient::Write(const std::vector<uint8_t>& event)
{
    // The event's bytes padded to four, behind its header.
    std::vector<uint8_t> frame((sizeof(KSMUSICFORMAT) + event.size() + 3) & ~size_t(3), 0);
    const KSMUSICFORMAT header{0, ULONG(event.size())};
    std::memcpy(frame.data(), &header, sizeof(header));
    std::copy(event.begin(), event.end(), frame.begin() + sizeof(header));
    return m_frames.Submit(*m_pin, std::move(frame), false);
}

NTSTATUS MidiPinClient::Read(ULONG bytes) { return m_frames.Submit(*m_pin, std::vector<uint8_t>(bytes, 0xEE), true); }

void MidiPinClient::TakeCompleted(std::vector<Event>* events, NTSTATUS* failed)
{
    while (StreamFrameQueue::Frame* head = m_frames.CompletedHead()) {
        StreamFrameQueue::Frame& frame = *head;
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
        m_frames.PopHead();
    }
}
