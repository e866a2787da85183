// The MIDI streaming pins: an out pin writes its frames' first event to its
// port; an in pin queues the messages its port delivers and returns one per
// frame.
#pragma once

#include "kernelobject.h"
#include "midiport.h"

#include <windef.h>
#include <ks.h>
#include <ksmedia.h>

constexpr ULONG kMidiMsgMaxData = 32;
// Lookaside records of the pin's message queue: "gsmm" in memory order.
constexpr ULONG kMidiMessageTag = 0x6D6D7367;

struct MidiMessage {
    ULONG time;  // USB frames (ms) since the pin last entered RUN
    ULONG size;
    UCHAR data[kMidiMsgMaxData];
    ULONG consumed;  // bytes already given to the client
    LIST_ENTRY link;
};

class UsbMidiPin : public KernelObject {
public:
    UsbMidiPin(PKSPIN pin, MidiPort* port);
    virtual ~UsbMidiPin();

    // Called by the port at dispatch level, with its listener lock held.
    virtual void EnqueueMidiMessages(const MidiEvent* events, ULONG count, ULONG time);
    NTSTATUS EnqueueMidiMessage(const MidiEvent& event, ULONG time);

    NTSTATUS Close();
    NTSTATUS Process();
    NTSTATUS SetDeviceState(KSSTATE to);

private:
    NTSTATUS ProcessOut();
    NTSTATUS ProcessIn();
    void WriteEvent(const UCHAR* bytes, ULONG n);
    MidiMessage* TakeHead();

    PKSPIN m_pin;
    MidiPort* m_port;
    ULONG m_startFrame = 0;
    BOOLEAN m_sysexHeld = FALSE;
    LIST_ENTRY m_queue;
    KSPIN_LOCK m_queueLock;
    NPAGED_LOOKASIDE_LIST m_messagePool;
};

extern const KSPIN_DISPATCH MidiPinDispatch;
