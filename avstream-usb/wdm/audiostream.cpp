#include "audiostream.h"

#include "usbdevice.h"

namespace {
constexpr UCHAR kSetCur = 0x01;
constexpr USHORT kSamplingFrequencyControl = 0x0100;
}  // namespace

AudioStream::AudioStream(UsbEndpoint* endpoint, ULONG urbSize, ULONG channels)
    : m_endpoint(endpoint), m_urbSize(urbSize), m_channels(channels),
      m_bytesPerFrame(kWireBytesPerSample * channels)
{
    KeInitializeEvent(&m_idleEvent, NotificationEvent, TRUE);
    KeInitializeSpinLock(&m_serviceLock);
    KeInitializeSpinLock(&m_countLock);

    // Room for two frames more than the endpoint's packet: a 44.1 kHz packet
    // carries one frame more than the nominal size every tenth frame.
    m_packetStride = endpoint->AudioPacketSize() + 2 * m_bytesPerFrame;

    // A failed allocation leaves the stream without a buffer; it then
    // refuses a rate, and so never starts.
    m_buffer = static_cast<PUCHAR>(AllocateBuffer(SIZE_T(2) * m_packetStride * m_urbSize));
}

AudioStream::~AudioStream()
{
    WaitForIdle();
    FreeBuffer(m_buffer);
    FreeTransfer(m_transfers[1]);
    FreeTransfer(m_transfers[0]);
}

bool AudioStream::IsCapture() const
{
    return m_endpoint->DirectionBit() == 1;
}

ULONG AudioStream::UrbLength() const
{
    return sizeof(_URB_ISOCH_TRANSFER) + m_urbSize * sizeof(USBD_ISO_PACKET_DESCRIPTOR);
}

NTSTATUS AudioStream::SetSampleRate(ULONG rate)
{
    PassiveLockGuard run(m_runLock);
    if (rate == m_sampleRate) return STATUS_SUCCESS;
    // Pins open at the old rate hold the device's rate; only a stream
    // without clients may change it.
    if (m_runCount > 0) return STATUS_DEVICE_BUSY;
    NTSTATUS status = SendSampleRate(rate);
    if (!NT_SUCCESS(status)) return status;
    m_bytesPerSecond = rate * m_bytesPerFrame;
    m_sampleRate = rate;
    WaitForIdle();
    status = BuildTransfers();
    if (!NT_SUCCESS(status)) {
        // Without transfers the stream must not look ready to start.
        m_bytesPerSecond = 0;
        m_sampleRate = 0;
    }
    return status;
}

// USB Audio sampling frequency control: SET_CUR with the rate as a 24-bit
// little-endian number, addressed to the endpoint.
NTSTATUS AudioStream::SendSampleRate(ULONG rate)
{
    auto* urb = static_cast<PURB>(AllocateBuffer(sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST)));
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    UCHAR payload[4] = {UCHAR(rate), UCHAR(rate >> 8), UCHAR(rate >> 16), 0};
    auto& request = urb->UrbControlVendorClassRequest;
    request.Hdr.Length = sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
    request.Hdr.Function = URB_FUNCTION_CLASS_ENDPOINT;
    request.TransferFlags = 0;
    request.TransferBufferLength = 3;
    request.TransferBuffer = payload;
    request.Request = kSetCur;
    request.Value = kSamplingFrequencyControl;
    request.Index = m_endpoint->Address();
    NTSTATUS status = m_endpoint->SubmitUrb(urb);
    FreeBuffer(urb);
    return status;
}

void AudioStream::FreeTransfer(IsoTransfer& transfer)
{
    FreeBuffer(transfer.urb);
    transfer.urb = nullptr;
    if (transfer.irp) IoFreeIrp(transfer.irp);
    transfer.irp = nullptr;
}

NTSTATUS AudioStream::BuildTransfers()
{
    const bool capture = IsCapture();
    for (ULONG i = 0; i < 2; ++i) {
        IsoTransfer& transfer = m_transfers[i];
        FreeTransfer(transfer);
        if (!m_buffer) return STATUS_INSUFFICIENT_RESOURCES;

        transfer.irp = IoAllocateIrp(static_cast<CCHAR>(m_endpoint->LowerStackSize() + 1), FALSE);
        transfer.urb = static_cast<PURB>(AllocateBuffer(UrbLength()));
        if (!transfer.irp || !transfer.urb) {
            FreeTransfer(transfer);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        transfer.owner = this;
        transfer.packets = m_urbSize;
        transfer.data = m_buffer + i * m_packetStride * m_urbSize;
        transfer.length = m_packetStride * m_urbSize;
        transfer.pipeHandle = m_endpoint->Pipe().PipeHandle;
        transfer.directionIn = capture;

        auto& iso = transfer.urb->UrbIsochronousTransfer;
        iso.Hdr.Length = static_cast<USHORT>(UrbLength());
        iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
        iso.PipeHandle = transfer.pipeHandle;
        iso.TransferFlags = (capture ? USBD_TRANSFER_DIRECTION_IN : 0) | USBD_START_ISO_TRANSFER_ASAP;
        iso.TransferBufferLength = transfer.length;
        iso.TransferBuffer = transfer.data;
        iso.StartFrame = 0;
        iso.NumberOfPackets = transfer.packets;
        for (ULONG k = 0; k < transfer.packets; ++k) {
            iso.IsoPacket[k].Offset = k * m_packetStride;
            iso.IsoPacket[k].Length = capture ? 0 : m_packetStride;
        }
    }
    return STATUS_SUCCESS;
}

// Stop, rebuild and start again in one hold of the run lock: a client
// entering RUN meanwhile waits, and finds the stream built for n.
NTSTATUS AudioStream::ChangeUrbSize(ULONG n)
{
    PassiveLockGuard run(m_runLock);
    if (n == m_urbSize && m_buffer) return STATUS_SUCCESS;
    Stop();
    NTSTATUS status = RebuildTransfers(n);
    if (ShouldRun()) {
        const NTSTATUS started = Start();
        if (NT_SUCCESS(status)) status = started;
    }
    return status;
}

NTSTATUS AudioStream::RebuildTransfers(ULONG n)
{
    WaitForIdle();
    m_urbSize = n;
    FreeBuffer(m_buffer);
    m_buffer = static_cast<PUCHAR>(AllocateBuffer(SIZE_T(2) * m_packetStride * n));
    NTSTATUS status = BuildTransfers();
    if (!NT_SUCCESS(status)) {
        // Start refuses a stream without a rate: it cannot run on transfers
        // it does not have.
        m_bytesPerSecond = 0;
        m_sampleRate = 0;
    }
    return status;
}
