// A MIDI client of the driver's pins for tests: one KSMUSICFORMAT event per
// frame written to an out pin, frames of a chosen size read from an in pin.
#pragma once

#include "devicesettings.h"
#include "drivertestbed.h"
#include "streamframe.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

class MidiClient {
public:
    using Bytes = std::vector<uint8_t>;
    using Frame = StreamFrame;
    // An event read back: its time and bytes.
    struct Event {
        ULONG timeDeltaMs;
        Bytes bytes;
    };

    MidiClient(kmsim::KsClientHandle& filter, ULONG pinId, bool hidden = false, KSSTATE state = KSSTATE_RUN)
    {
        const KSDATAFORMAT format = MidiFormat(hidden);
        m_status = filter.CreatePin(PinConnect(pinId), &format, &m_pin);
        if (NT_SUCCESS(m_status) && state != KSSTATE_STOP) m_status = m_pin->SetState(state);
    }
    ~MidiClient()
    {
        if (m_pin) {
            m_pin->SetState(KSSTATE_STOP);
            m_pin->Close();
        }
    }

    NTSTATUS Status() const { return m_status; }
    kmsim::KsClientHandle& Pin() { return *m_pin; }

    // One frame's bytes holding these events, each a KSMUSICFORMAT header
    // and its bytes padded to four.
    static Bytes EventFrame(const std::vector<Bytes>& events)
    {
        size_t total = 0;
        for (const Bytes& event : events) total += (sizeof(KSMUSICFORMAT) + event.size() + 3) & ~size_t(3);
        Bytes frame(total, 0);
        size_t at = 0;
        for (const Bytes& event : events) {
            const KSMUSICFORMAT header{0, ULONG(event.size())};
            std::memcpy(frame.data() + at, &header, sizeof(header));
            std::copy(event.begin(), event.end(), frame.begin() + ptrdiff_t(at + sizeof(header)));
            at += (sizeof(header) + event.size() + 3) & ~size_t(3);
        }
        return frame;
    }
    Frame& Write(const std::vector<Bytes>& events) { return Queue(EventFrame(events), IOCTL_KS_WRITE_STREAM, false); }
    Frame& Write(const Bytes& event) { return Write(std::vector<Bytes>{event}); }
    Frame& Read(ULONG bytes) { return Queue(Bytes(bytes, 0xEE), IOCTL_KS_READ_STREAM, true); }

    std::deque<Frame>& Frames() { return m_frames; }
    bool AllDone()
    {
        for (auto& frame : m_frames)
            if (!frame.request->Done()) return false;
        return true;
    }
    // Steps the clock until every frame has completed. The pins process on
    // the kernel-streaming worker thread, which a loaded machine may not run
    // for a while, so this waits up to 20 seconds rather than counting frames.
    bool Drain(DriverTestBed& bed)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!AllDone() && std::chrono::steady_clock::now() < giveUp) {
            bed.Bus().StepFrames(1);
            std::this_thread::yield();
        }
        return AllDone();
    }
    // Events of the completed read frames, oldest first, taken off the queue.
    std::vector<Event> TakeEvents()
    {
        std::vector<Event> events;
        while (!m_frames.empty() && m_frames.front().request->Done()) {
            Frame& frame = m_frames.front();
            if (frame.header.DataUsed >= sizeof(KSMUSICFORMAT)) {
                KSMUSICFORMAT header;
                std::memcpy(&header, frame.data.data(), sizeof(header));
                const size_t n = std::min<size_t>(header.ByteCount, frame.header.DataUsed - sizeof(header));
                events.push_back({header.TimeDeltaMs, Bytes(frame.data.begin() + sizeof(header),
                                                            frame.data.begin() + sizeof(header) + n)});
            }
            m_frames.pop_front();
        }
        return events;
    }

private:
    Frame& Queue(Bytes bytes, ULONG code, bool capture)
    {
        return QueueStreamFrame(*m_pin, m_frames, std::move(bytes), code, capture);
    }

    NTSTATUS m_status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<kmsim::KsClientHandle> m_pin;
    std::deque<Frame> m_frames;
};
