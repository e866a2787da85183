// One virtual MIDI cable of a MIDI endpoint.
#pragma once

#include "kernelobject.h"

class MidiEndpoint;
class UsbMidiPin;

constexpr ULONG kMaxMidiListeners = 16;
constexpr ULONG kMaxMidiEvents = 16;
constexpr ULONG kMidiEventStoreSize = 32;

struct MidiEvent {
    ULONG size;
    PUCHAR data;
};

class MidiPort : public KernelObject {
public:
    MidiPort(MidiEndpoint* endpoint, ULONG cable);

    ULONG Cable() const { return m_cable; }
    MidiEndpoint* Endpoint() const { return m_endpoint; }
    // The output mutex serialises the out pins writing to this cable;
    // WriteOutput runs with it held and takes the endpoint's pump mutex
    // inside. A SysEx written over several events keeps the cable for its
    // pin until it ends. That hold is kept beside the mutex, not by holding
    // it: a fast mutex belongs to its thread and keeps it at APC_LEVEL,
    // while the events of one SysEx and the pin's close come on any thread.
    // Takes the mutex once no other pin holds the cable. A pin waiting for
    // another's hold gives up (false, mutex not taken) once *abandon is
    // non-zero; WakeWaiters makes it look.
    bool AcquireOutput(const UsbMidiPin* pin, volatile LONG* abandon = nullptr);
    // Releases the mutex; the pin keeps or gives up its hold.
    void ReleaseOutput(const UsbMidiPin* pin, bool hold);
    // Wakes the pins waiting for a hold to end, to look at their abandon flag.
    void WakeWaiters();

    // Leaves the bytes pending and pumps the endpoint until they are taken
    // or three pumps in the whole write made no progress; what is left then
    // is withdrawn before it returns.
    void WriteOutput(const UCHAR* bytes, ULONG length);
    // The bytes still pending, for a pump holding the endpoint's pending
    // lock (or the port's only writer, on a one-port endpoint).
    ULONG PeekPending(const UCHAR** data) const;
    void ConsumePending(ULONG n);

    // Received messages, delivered in batches to every listener with one
    // time stamp. A full batch is delivered before the next message is
    // added, so a packet yielding more than a batch loses nothing.
    void AppendEvent(const UCHAR* bytes, ULONG size);
    void DeliverEvents();

    // A pin is stored once; a port with 16 listeners takes no more.
    void AddListener(UsbMidiPin* pin);
    void RemoveListener(UsbMidiPin* pin);
    // Sets the pin's start frame to now under the listener lock, under
    // which batches are stamped and delivered: none stamped before it
    // reaches the pin after it.
    void StartListenerClock(UsbMidiPin* pin);

private:
    // Sets the bytes pumps may take (none: null and 0).
    void Offer(const UCHAR* bytes, ULONG length);

    ULONG m_cable;
    MidiEndpoint* m_endpoint;
    FAST_MUTEX m_outputMutex;
    const UsbMidiPin* m_sysexHolder = nullptr;  // under m_outputMutex
    // Signalled while no pin holds the cable, and briefly by WakeWaiters;
    // set by the holder's release, cleared by a waiter, both under
    // m_outputMutex.
    KEVENT m_sysexEnded;
    KSPIN_LOCK m_listenerLock;
    UsbMidiPin* m_listeners[kMaxMidiListeners] = {};
    // Offered and withdrawn under the endpoint's pending lock. They point
    // into the writing pin's own copy of its event, never into a client's
    // frame, and WriteOutput withdraws them before it returns.
    ULONG m_pendingLength = 0;
    const UCHAR* m_pendingData = nullptr;
    MidiEvent m_events[kMaxMidiEvents] = {};
    UCHAR m_eventStore[kMaxMidiEvents][kMidiEventStoreSize] = {};
    ULONG m_eventCount = 0;
};
