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
    // Serialises the out pins writing to this cable.
    PFAST_MUTEX OutputMutex() { return &m_outputMutex; }

private:
    ULONG m_cable;
    MidiEndpoint* m_endpoint;
    FAST_MUTEX m_outputMutex;
    KSPIN_LOCK m_listenerLock;
    UsbMidiPin* m_listeners[kMaxMidiListeners] = {};
    ULONG m_pendingLength = 0;
    PUCHAR m_pendingData = nullptr;
    MidiEvent m_events[kMaxMidiEvents] = {};
    UCHAR m_eventStore[kMaxMidiEvents][kMidiEventStoreSize] = {};
    ULONG m_eventCount = 0;
};
