// One isochronous audio endpoint: two reusable transfers kept in flight back
// to back, filled from (render) or drained into (capture) the attached pins.
#pragma once

#include "kernelobject.h"

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
};

class AudioStream : public KernelObject {
public:
    AudioStream(UsbEndpoint* endpoint, ULONG urbSize, ULONG channels);
    ~AudioStream();

    // Sends the sampling-frequency request and rebuilds the transfers; the
    // current rate sends nothing.
    NTSTATUS SetSampleRate(ULONG rate);

    UsbEndpoint* Endpoint() const { return m_endpoint; }
    bool IsCapture() const;
    ULONG Channels() const { return m_channels; }
    ULONG SampleRate() const { return m_sampleRate; }
    ULONG UrbSize() const { return m_urbSize; }
    ULONG PacketStride() const { return m_packetStride; }
    ULONG BytesPerFrame() const { return m_bytesPerFrame; }
    const IsoTransfer& Transfer(ULONG i) const { return m_transfers[i]; }

private:
    NTSTATUS SendSampleRate(ULONG rate);
    NTSTATUS BuildTransfers();
    void FreeTransfer(IsoTransfer& transfer);
    ULONG UrbLength() const;

    PUCHAR m_buffer = nullptr;
    IsoTransfer m_transfers[2] = {};
    AudioPin* m_clients[kMaxStreamClients] = {};
    ULONG m_clientCount = 0;
    LONG m_runCount = 0;
    UsbEndpoint* m_endpoint;
    ULONG m_sampleRate = 0;
    ULONG m_bytesPerSecond = 0;
    ULONG m_packetStride = 0;
    ULONG m_urbSize;
    BOOLEAN m_resumePending = FALSE;
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
};
