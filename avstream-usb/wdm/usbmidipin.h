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
    // Called by the port with its listener lock held.
    void SetStartFrame(ULONG frame) { m_startFrame = frame; }

    NTSTATUS Close();
    NTSTATUS Process();
    NTSTATUS SetDeviceState(KSSTATE to);

private:
    NTSTATUS ProcessOut();
    NTSTATUS ProcessIn();
    // Copies the event of the frame at the leading edge into m_event and
    // marks the frame as being written; false when there is no frame to
    // write (none queued, or the pin is leaving RUN).
    bool CopyLeadingEvent(ULONG* length);
    // Completes the marked frame if it is still queued (a cancel or a stop
    // may have ended it meanwhile).
    void CompleteWrittenFrame();
    void WriteEvent(const UCHAR* bytes, ULONG n);
    bool ReserveEventCopy(ULONG n);
    MidiMessage* TakeHead();

    PKSPIN m_pin;
    MidiPort* m_port;
    ULONG m_startFrame = 0;  // under the port's listener lock, as batches are stamped
    BOOLEAN m_sysexHeld = FALSE;  // Process and Close only, which never run at once
    LIST_ENTRY m_queue;
    KSPIN_LOCK m_queueLock;
    NPAGED_LOOKASIDE_LIST m_messagePool;

    // Writing never blocks while a client's frame is locked: Process waits
    // for another pin's SysEx hold and for the device only with the frame
    // unlocked, and sends the pin's own copy of the event, so a frame the
    // client stops, cancels or frees meanwhile is never read again. The
    // frame is completed once its bytes are out (or the pin has left RUN and
    // the stop ends it), after the port has withdrawn them.
    PUCHAR m_event = nullptr;     // Process only (one at a time), freed with the pin
    ULONG m_eventCapacity = 0;    // Process only
    PKSSTREAM_HEADER m_writing = nullptr;  // the frame being written; under m_frameMutex
    // Non-zero from the moment the pin starts to leave RUN until it enters
    // it again: Process then gives up waiting for a hold and leaves the
    // queue alone, so the stop finds no frame locked. Raised under
    // m_frameMutex, cleared on entering RUN, read there or interlocked.
    volatile LONG m_leavingRun = 1;
    // Held by Process around each short use of a locked frame, and by a
    // state change that leaves RUN.
    FAST_MUTEX m_frameMutex;
};

extern const KSPIN_DISPATCH MidiPinDispatch;
