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

// Who may touch what:
// - The run lock (passive level) serialises everything that changes how the
//   stream is built or whether it runs: clients attaching and detaching, rate
//   and UrbSize changes, power. The buffer, the transfers' IRPs, URBs and
//   lengths, urbSize, the rate and the run and suspend state change only
//   under it, and only once no transfer is outstanding.
// - While transfers are outstanding the completion path owns the per-pass
//   state (nextFrame, fracAccumulator, the transfer being sized and served);
//   the service lock orders the two transfers' passes and the client table.
// - The stream runs exactly while a client is in RUN and the device is
//   powered; whatever stops it, it is started again from that rule alone.
class AudioStream : public KernelObject {
public:
    AudioStream(UsbEndpoint* endpoint, ULONG urbSize, ULONG channels);
    ~AudioStream();

    // Sends the sampling-frequency request and rebuilds the transfers; the
    // current rate sends nothing. A running stream refuses.
    NTSTATUS SetSampleRate(ULONG rate);
    // Rebuilds the buffer and transfers for n frames per transfer; a running
    // stream is stopped for it and started again.
    NTSTATUS ChangeUrbSize(ULONG n);

    // A pin entering RUN; the first one starts the stream unless the device
    // is powered down. Fails when all client slots are taken or the stream
    // cannot start: the pin then stays out of RUN.
    NTSTATUS AttachClient(AudioPin* pin);
    // A pin leaving RUN; the last one stops the stream and waits for its
    // transfers.
    void DetachClient(AudioPin* pin);
    // Power-down: stops the stream and keeps it stopped until Resume.
    void Suspend();
    // Power-up: starts the stream again if a client is in RUN, also after it
    // stopped itself while the device was down.
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
    // Both under the run lock.
    NTSTATUS Start();
    void Stop();
    static NTSTATUS OnTransferComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context);
    void CompleteTransfer(IsoTransfer& transfer, PIRP irp);
    NTSTATUS Submit(IsoTransfer& transfer, ULONG startFrame);
    void SizeRenderPackets(IsoTransfer& transfer);
    void ServeClients(IsoTransfer& transfer);
    NTSTATUS Resubmit(IsoTransfer& transfer);
    void AddOutstanding();
    // A stream that stopped itself may still have a transfer draining; its
    // IRP, URB and buffer must not be rebuilt or freed under it. One the bus
    // holds past a second is cancelled.
    void WaitForIdle();
    void RemoveOutstanding();
    ULONG CurrentFrame() const;
    ULONG JoinFrameGrid(ULONG frame) const;
    NTSTATUS SendSampleRate(ULONG rate);
    NTSTATUS BuildTransfers();
    NTSTATUS RebuildTransfers(ULONG n);
    void FreeTransfer(IsoTransfer& transfer);
    ULONG UrbLength() const;
    bool ShouldRun() const { return m_runCount > 0 && !m_suspended; }

    // Under the run lock, and not changed while a transfer is outstanding.
    PUCHAR m_buffer = nullptr;
    IsoTransfer m_transfers[2] = {};
    // Slots change under the service lock (and the run lock); a service
    // pass reads them under the service lock.
    AudioPin* m_clients[kMaxStreamClients] = {};
    ULONG m_clientCount = 0;
    LONG m_runCount = 0;  // under the run lock
    UsbEndpoint* m_endpoint;
    ULONG m_sampleRate = 0;       // under the run lock
    ULONG m_bytesPerSecond = 0;   // under the run lock
    ULONG m_packetStride = 0;     // fixed at construction
    ULONG m_urbSize;              // under the run lock
    BOOLEAN m_suspended = FALSE;  // under the run lock: the device is powered down
    // Set by Start under the run lock; cleared by Stop and by completions
    // that find the device failing, while the other side reads it.
    BOOLEAN m_running = FALSE;
    volatile LONG m_outstanding = 0;
    KEVENT m_idleEvent;
    // The completion path's, while transfers are outstanding; Start's
    // otherwise.
    ULONG m_nextFrame = 0;
    ULONG m_fracAccumulator = 0;
    // A service pass's, under the service lock.
    IsoTransfer* m_currentTransfer = nullptr;
    BOOLEAN m_mixing = FALSE;
    ULONG m_clientPacket = 0;
    ULONG m_clientOffset = 0;
    ULONG m_channels;
    ULONG m_bytesPerSample = kWireBytesPerSample;
    ULONG m_bytesPerFrame;
    // Guards the client table and the per-pass state: the two transfers may
    // complete on two processors, and pins attach and detach meanwhile.
    KSPIN_LOCK m_serviceLock;
    // Keeps the outstanding count and the idle event consistent.
    KSPIN_LOCK m_countLock;
    // See above. Stop waits for the transfers while holding it; it ranks
    // below the device's rate lock and the device mutex.
    PassiveLock m_runLock;
};
