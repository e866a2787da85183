// One isochronous audio endpoint: two reusable transfers kept in flight back
// to back, filled from (render) or drained into (capture) the attached pins.
#pragma once

#include "kernelobject.h"
#include "passivelock.h"

#include <usb.h>

class AudioPin;
class AudioStream;
class UsbEndpoint;

constexpr ULONG kMaxStreamClients = 4;
constexpr ULONG kWireBytesPerSample = 3;

// One of the stream's two transfers; its IRP is never completed to the I/O
// manager and is re-armed in place for every submission.
struct IsoTransfer {
    PIRP irp;
    AudioStream* owner;
    PURB urb;  // _URB_ISOCH_TRANSFER with `packets` packet descriptors
    BOOLEAN directionIn;
    PUCHAR data;
    ULONG length;  // bytes to send or room to receive
    ULONG packets;
    USBD_PIPE_HANDLE pipeHandle;
    // 1 from hand-down until the transfer is uncounted, by its completion
    // or by a hand-down that failed; whichever comes first uncounts it.
    volatile LONG counted;
};

class AudioStream : public KernelObject {
public:
    AudioStream(UsbEndpoint* endpoint, ULONG urbSize, ULONG channels);
    ~AudioStream();

    // Sends the sampling-frequency request and rebuilds the transfers; the
    // current rate sends nothing.
    NTSTATUS SetSampleRate(ULONG rate);
    // Rebuilds the buffer and transfers for n frames per transfer; a running
    // stream is left alone (callers suspend it first).
    NTSTATUS ResizeTransfers(ULONG n);

    // A pin entering RUN; the first one starts the stream. Fails when all
    // client slots are taken.
    NTSTATUS AttachClient(AudioPin* pin);
    // A pin leaving RUN; the last one stops the stream and waits for its
    // transfers.
    void DetachClient(AudioPin* pin);
    NTSTATUS Start();
    void Stop();
    // Stops a running stream and remembers to restart it on Resume.
    void Suspend();
    void Resume();

    // Called by a client's Process during a service pass: fills (render) or
    // drains (capture) the transfer being served. The result says whether
    // the transfer has room (render) or data (capture) left for this client.
    bool RenderFromClient(const UCHAR* source, ULONG sourceBytes, ULONG bitsPerSample, ULONG clientChannels,
                          ULONG* consumed);
    bool CaptureToClient(PUCHAR destination, ULONG destinationBytes, ULONG bitsPerSample, ULONG* produced);

    bool IsRunning() const { return ReadBooleanAcquire(&m_running); }
    LONG Outstanding() const { return ReadAcquire(&m_outstanding); }
    ULONG NextFrame() const { return m_nextFrame; }

    UsbEndpoint* Endpoint() const { return m_endpoint; }
    bool IsCapture() const;
    ULONG Channels() const { return m_channels; }
    ULONG SampleRate() const { return m_sampleRate; }
    ULONG UrbSize() const { return m_urbSize; }
    ULONG PacketStride() const { return m_packetStride; }
    ULONG BytesPerFrame() const { return m_bytesPerFrame; }
    const IsoTransfer& Transfer(ULONG i) const { return m_transfers[i]; }

private:
    static NTSTATUS OnTransferComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context);
    void CompleteTransfer(IsoTransfer& transfer, PIRP irp);
    NTSTATUS Submit(IsoTransfer& transfer, ULONG startFrame);
    void SizeRenderPackets(IsoTransfer& transfer);
    void ServeClients(IsoTransfer& transfer);
    NTSTATUS Resubmit(IsoTransfer& transfer);
    void AddOutstanding();
    // A stream that stopped itself may still have a transfer draining; its
    // IRP, URB and buffer must not be rebuilt or freed under it.
    void WaitForIdle();
    void RemoveOutstanding();
    ULONG CurrentFrame() const;
    NTSTATUS SendSampleRate(ULONG rate);
    NTSTATUS BuildTransfers();
    NTSTATUS RebuildTransfers(ULONG n);
    void FreeTransfer(IsoTransfer& transfer);
    ULONG UrbLength() const;

    PUCHAR m_buffer = nullptr;
    IsoTransfer m_transfers[2] = {};
    AudioPin* m_clients[kMaxStreamClients] = {};
    ULONG m_clientCount = 0;
    LONG m_runCount = 0;  // under the run lock
    UsbEndpoint* m_endpoint;
    ULONG m_sampleRate = 0;
    ULONG m_bytesPerSecond = 0;
    ULONG m_packetStride = 0;
    ULONG m_urbSize;
    BOOLEAN m_resumePending = FALSE;  // under the run lock
    // Cleared by completions and by Stop while the other side reads it.
    BOOLEAN m_running = FALSE;
    volatile LONG m_outstanding = 0;
    KEVENT m_idleEvent;
    ULONG m_nextFrame = 0;
    IsoTransfer* m_currentTransfer = nullptr;
    ULONG m_fracAccumulator = 0;
    BOOLEAN m_mixing = FALSE;
    ULONG m_channels;
    ULONG m_bytesPerSample = kWireBytesPerSample;
    ULONG m_bytesPerFrame;
    ULONG m_clientPacket = 0;
    ULONG m_clientOffset = 0;
    // Guards the client table and the per-pass state: the two transfers may
    // complete on two processors, and pins attach and detach meanwhile.
    KSPIN_LOCK m_serviceLock;
    // Keeps the outstanding count and the idle event consistent.
    KSPIN_LOCK m_countLock;
    // Pins of several filters change state at once, and power and UrbSize
    // changes come from other threads: clients attach and detach, and the
    // stream starts, stops and is rebuilt, one at a time. Stop waits for the
    // transfers while holding it.
    PassiveLock m_runLock;
};
