#include "audiopin.h"

#include "audiostream.h"
#include "usbaudiodevice.h"

namespace {

constexpr ULONGLONG kHundredNsPerSecond = 10'000'000;
constexpr ULONG kAllocatorFrames = 8;

UsbAudioDevice* DeviceOfPin(PKSPIN pin)
{
    PKSDEVICE device = KsGetDevice(pin);
    return device ? static_cast<UsbAudioDevice*>(device->Context) : nullptr;
}

// The WAVEFORMATEX behind the connection's KSDATAFORMAT, or null when the
// format is too short to hold one.
const WAVEFORMATEX* WaveFormatOf(const KSDATAFORMAT* format)
{
    if (!format || format->FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX)) return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(format + 1);
}

void FreeAudioPin(PVOID context)
{
    delete static_cast<AudioPin*>(context);
}

NTSTATUS Create(PKSPIN pin, PIRP)
{
    UsbAudioDevice* device = DeviceOfPin(pin);
    const WAVEFORMATEX* wave = WaveFormatOf(pin->ConnectionFormat);
    if (!device || !wave) return STATUS_INVALID_PARAMETER;
    NTSTATUS rateStatus = device->AcquireSampleRate(wave->nSamplesPerSec);
    if (!NT_SUCCESS(rateStatus)) return rateStatus;

    AudioStream* stream = pin->DataFlow == KSPIN_DATAFLOW_OUT ? device->CaptureStream(0) : device->RenderStream(0);
    AudioPinFormat format;
    RtlCopyMemory(&format, wave, sizeof(format));
    AudioPin* context = stream ? new AudioPin(device, pin, stream, format) : nullptr;
    NTSTATUS status = context ? KsAddItemToObjectBag(pin->Bag, context, FreeAudioPin) : STATUS_INSUFFICIENT_RESOURCES;
    if (!NT_SUCCESS(status)) {
        device->ReleaseSampleRate();
        delete context;
        return status;
    }
    pin->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS Close(PKSPIN pin, PIRP)
{
    if (UsbAudioDevice* device = DeviceOfPin(pin)) device->ReleaseSampleRate();
    return STATUS_SUCCESS;
}

NTSTATUS Process(PKSPIN pin)
{
    auto* context = static_cast<AudioPin*>(pin->Context);
    return context ? context->Process() : STATUS_PENDING;
}

NTSTATUS SetDataFormat(PKSPIN pin, PKSDATAFORMAT, PKSMULTIPLE_ITEM, const KSDATARANGE* range,
                       const KSATTRIBUTE_LIST*)
{
    const WAVEFORMATEX* wave = WaveFormatOf(pin->ConnectionFormat);
    if (!wave || !range || range->FormatSize < sizeof(KSDATARANGE_AUDIO)) return STATUS_NO_MATCH;
    auto* audio = reinterpret_cast<const KSDATARANGE_AUDIO*>(range);

    // Both fields come from the client: their product can exceed a signed int.
    if (wave->nBlockAlign != ULONG(wave->nChannels) * wave->wBitsPerSample / 8) return STATUS_NO_MATCH;
    if (wave->wFormatTag == WAVE_FORMAT_EXTENSIBLE && wave->cbSize == 22) {
        if (pin->ConnectionFormat->FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE))
            return STATUS_NO_MATCH;
        auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(wave);
        if (extensible->Samples.wValidBitsPerSample != wave->wBitsPerSample) return STATUS_NO_MATCH;
    }
    if (wave->wBitsPerSample < audio->MinimumBitsPerSample || wave->wBitsPerSample > audio->MaximumBitsPerSample)
        return STATUS_NO_MATCH;
    // The streams convert 16- and 24-bit samples only; any other width would
    // never move a byte.
    if (wave->wBitsPerSample != 16 && wave->wBitsPerSample != 24) return STATUS_NO_MATCH;
    if (wave->nSamplesPerSec < audio->MinimumSampleFrequency || wave->nSamplesPerSec > audio->MaximumSampleFrequency)
        return STATUS_NO_MATCH;
    if (wave->nChannels > audio->MaximumChannels || wave->nChannels % 2 != 0) return STATUS_NO_MATCH;
    return STATUS_SUCCESS;
}

NTSTATUS SetDeviceState(PKSPIN pin, KSSTATE to, KSSTATE from)
{
    auto* context = static_cast<AudioPin*>(pin->Context);
    return context ? context->SetDeviceState(to, from) : STATUS_SUCCESS;
}

}  // namespace

const KSPIN_DISPATCH AudioPinDispatch = {
    .Create = Create,
    .Close = Close,
    .Process = Process,
    .Reset = nullptr,
    .SetDataFormat = SetDataFormat,
    .SetDeviceState = SetDeviceState,
    .Connect = nullptr,
    .Disconnect = nullptr,
    .Clock = nullptr,
    .Allocator = nullptr,
};

void AudioPin::AttemptProcessing()
{
    KsPinAttemptProcessing(m_pin, FALSE);
}

ULONGLONG AudioPin::ByteRate() const
{
    return ULONGLONG(m_format.wBitsPerSample / 8) * m_format.nChannels * m_format.nSamplesPerSec;
}

void AudioPin::Stamp(PKSSTREAM_POINTER pointer)
{
    const ULONGLONG rate = ByteRate();
    const ULONG count = pointer->Offset->Count;
    PKSSTREAM_HEADER header = pointer->StreamHeader;
    if (rate != 0) {
        header->PresentationTime.Time = LONGLONG(m_nextStamp * kHundredNsPerSecond / rate);
        header->Duration = LONGLONG(ULONGLONG(count) * kHundredNsPerSecond / rate);
    }
    header->OptionsFlags |= KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_DURATIONVALID;
    m_nextStamp += count;
}

NTSTATUS AudioPin::Process()
{
    PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(m_pin, KSSTREAM_POINTER_STATE_LOCKED);
    PUCHAR data = pointer ? static_cast<PUCHAR>(pointer->Offset->Data) : nullptr;
    const ULONG bytes = pointer ? pointer->Offset->Remaining : 0;
    if (pointer && m_nextStamp <= m_bytesMoved) Stamp(pointer);

    ULONG consumed = 0;
    ULONG produced = 0;
    bool more;
    if (m_pin->DataFlow == KSPIN_DATAFLOW_OUT)
        more = m_stream->CaptureToClient(data, bytes, m_format.wBitsPerSample, &produced);
    else
        more = m_stream->RenderFromClient(data, bytes, m_format.wBitsPerSample, m_format.nChannels, &consumed);
    m_bytesMoved += consumed + produced;

    if (pointer) KsStreamPointerAdvanceOffsetsAndUnlock(pointer, consumed, produced, FALSE);
    return more ? STATUS_SUCCESS : STATUS_PENDING;
}

NTSTATUS AudioPin::SetDeviceState(KSSTATE to, KSSTATE from)
{
    if (to == KSSTATE_RUN && m_stream) {
        NTSTATUS status = m_stream->AttachClient(this);
        // A stream serves four clients at most; a fifth stays out of RUN.
        if (!NT_SUCCESS(status)) return status;
    }
    if (from == KSSTATE_RUN && m_stream) m_stream->DetachClient(this);
    return STATUS_SUCCESS;
}

NTSTATUS AudioPin::HandleProperty(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    const bool get = request->Flags & KSPROPERTY_TYPE_GET;
    const bool set = request->Flags & KSPROPERTY_TYPE_SET;
    if (IsEqualGUID(request->Set, KSPROPSETID_Audio)) {
        if (request->Id != KSPROPERTY_AUDIO_POSITION) return STATUS_NOT_SUPPORTED;
        auto* position = static_cast<PKSAUDIO_POSITION>(data);
        if (get) {
            position->PlayOffset = m_bytesMoved;
            position->WriteOffset = m_nextStamp;
            irp->IoStatus.Information = sizeof(KSAUDIO_POSITION);
            return STATUS_SUCCESS;
        }
        if (set) {
            m_bytesMoved = position->PlayOffset;
            m_nextStamp = position->WriteOffset;
            return STATUS_SUCCESS;
        }
        return STATUS_NOT_SUPPORTED;
    }
    if (IsEqualGUID(request->Set, KSPROPSETID_Connection)) {
        if (request->Id != KSPROPERTY_CONNECTION_ALLOCATORFRAMING) return STATUS_NOT_SUPPORTED;
        // One transfer's worth of client audio, one frame more at 44.1 kHz.
        const ULONG rate = m_format.nSamplesPerSec;
        const ULONG frames = m_device->GetUrbSize() * rate / 1000 + (rate % 1000 != 0 ? 1 : 0);
        auto* framing = static_cast<PKSALLOCATOR_FRAMING>(data);
        framing->OptionsFlags = KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY;
        framing->PoolType = NonPagedPool;
        framing->Frames = kAllocatorFrames;
        framing->FrameSize = frames * m_format.wBitsPerSample * m_format.nChannels / 8;
        framing->FileAlignment = 0;
        framing->Reserved = 0;
        irp->IoStatus.Information = sizeof(KSALLOCATOR_FRAMING);
        return STATUS_SUCCESS;
    }
    return STATUS_NOT_SUPPORTED;
}

NTSTATUS AudioPinPropertyHandler(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    PKSPIN pin = KsGetPinFromIrp(irp);
    auto* context = pin ? static_cast<AudioPin*>(pin->Context) : nullptr;
    if (!context || !data) return STATUS_INVALID_PARAMETER;
    return context->HandleProperty(irp, request, data);
}
