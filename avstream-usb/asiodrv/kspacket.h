// KsPacket: one slot of the streaming thread's ring, carrying one capture
// read and one render write of exactly one ASIO buffer.
#pragma once

#include "kspin.h"

#include <windows.h>
#include <ks.h>

struct KsPacketHalf {
    KSSTREAM_HEADER header;
    OVERLAPPED overlapped;  // hEvent is one of the packet's events
    BYTE* buffer;
    ULONG bufferBytes;
};

class KsPacket {
public:
    KsPacket();
    ~KsPacket();
    KsPacket(const KsPacket&) = delete;
    KsPacket& operator=(const KsPacket&) = delete;

    // Makes the buffers (zeroed) and the events (signalled, so a packet never
    // queued counts as complete). False when anything cannot be made.
    bool allocate(ULONG captureBytes, ULONG renderBytes);

    // Both halves done, or 2000 ms without: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
    DWORD waitForCompletion();
    bool discontinuity() const;
    // After CancelIo: until the kernel has let go of both halves (bounded),
    // so the buffers and OVERLAPPEDs can be freed.
    void waitUntilIdle();

    // Queue the capture read (header rebuilt) and the render write; S_OK when
    // queued. A half that could not be queued counts as complete; after a
    // failed read the write is not queued either, and counts as complete too.
    HRESULT read(CKsPin* capturePin);
    HRESULT write(CKsPin* renderPin);

    KsPacketHalf in;   // capture
    KsPacketHalf out;  // render

private:
    static void prepareHeader(KsPacketHalf& half, ULONG dataUsed);

    HANDLE m_events[2];  // in's and out's events side by side, for one wait
};
