// A kernel-streaming client of one MIDI pin, as the system's MIDI service
// is one: each write is one frame with one KSMUSICFORMAT event; reads are
// frames of a fixed size kept queued, whose events come back in order.
#pragma once

#include "km/ksclient.h"
#include "streamframequeue.h"

#include <ks.h>
#include <ksmedia.h>

#include "devicesettings.h"

#include <cstdint>
#include <memory>
#include <vector>

class MidiPinClient {
public:
    struct Event {
        ULONG timeDeltaMs;
        std::vector<uint8_t> bytes;
    };

    // Creates the pin (hidden: the HiddenMidi subformat) and runs it.
    MidiPinClient(kmsim::KsClientHandle& filter, ULONG pinId, bool hidden);
    // Stops and closes the pin; every queued request ends first.
    ~MidiPinClient();
    MidiPinClient(const MidiPinClient&) = delete;
    MidiPinClient& operator=(const MidiPinClient&) = delete;

    NTSTATUS Status() const { return m_status; }
    kmsim::KsClientHandle& Pin() { return *m_pin; }

    // Queues one frame holding the event.
    NTSTATUS Write(const std::vector<uint8_t>& event);
    // Queues a read frame with room for `bytes`.
    NTSTATUS Read(ULONG bytes);
    size_t Queued() const { return m_frames.Size(); }
    // Takes the completed frames at the head of the queue. Read frames'
    // events go to *events; a frame that failed sets *failed.
    void TakeCompleted(std::vector<Event>* events, NTSTATUS* failed);
    // Cancels whatever is queued and waits for it to end.
    void CancelAll() { m_frames.CancelAll(); }
    // Whether every queued request has ended, waiting up to `ms` of real time.
    bool AllEnded(unsigned ms) { return m_frames.AllEnded(ms); }
    // The device was removed: the system closed the pin.
    void Abandon() { m_pin->Abandon(); }

private:
    NTSTATUS m_status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<kmsim::KsClientHandle> m_pin;
    StreamFrameQueue m_frames;
};
