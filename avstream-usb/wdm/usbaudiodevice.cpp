#include "usbaudiodevice.h"

#include "audiostream.h"
#include "devicesettings.h"
#include "driverglobals.h"
#include "filterdescriptor.h"
#include "midiendpoint.h"
#include "registry.h"
#include "widetext.h"

UsbAudioDevice::UsbAudioDevice(PKSDEVICE ksDevice) : m_ksDevice(ksDevice)
{
    m_filterDescriptor = DynamicFilterDescriptor::Create();
    if (ksDevice && ksDevice->PhysicalDeviceObject) {
        HANDLE key = nullptr;
        if (NT_SUCCESS(IoOpenDeviceRegistryKey(ksDevice->PhysicalDeviceObject, PLUGPLAY_REGKEY_DRIVER,
                                               KEY_ALL_ACCESS, &key)))
            m_deviceKey = key;
    }
    ULONG urbSize = 0;
    if (NT_SUCCESS(ReadDeviceDword(WIDE("UrbSize"), &urbSize)) && IsValidUrbSize(urbSize)) m_urbSize = LONG(urbSize);
}

UsbAudioDevice::~UsbAudioDevice()
{
    // Normally emptied by removal already; a device torn down without it
    // must still not leak its streams and endpoints.
    ReleaseStreamsAndEndpoints();
    if (m_deviceKey) ZwClose(m_deviceKey);
    DynamicFilterDescriptor::Destroy(m_filterDescriptor);
}

void UsbAudioDevice::ReleaseStreamsAndEndpoints()
{
    // Each endpoint is stopped while it is whole: a read that completes
    // during the stop unpacks through its variant, which is already gone
    // once the base class's destructor runs.
    while (m_midiEndpointCount > 0) {
        MidiEndpoint* endpoint = m_midiEndpoints[--m_midiEndpointCount];
        endpoint->StopEndpoint();
        delete endpoint;
    }
    while (m_captureCount > 0) delete m_captureStreams[--m_captureCount];
    while (m_renderCount > 0) delete m_renderStreams[--m_renderCount];
}

void UsbAudioDevice::Remove()
{
    ReleaseStreamsAndEndpoints();
    m_usb.Unconfigure();
}

NTSTATUS UsbAudioDevice::ReadDeviceDword(PCWSTR name, ULONG* value)
{
    if (!m_ksDevice || !m_ksDevice->PhysicalDeviceObject) return STATUS_DEVICE_NOT_CONNECTED;
    if (!m_deviceKey) return STATUS_OBJECT_NAME_NOT_FOUND;
    return ReadDword(m_deviceKey, name, value);
}

NTSTATUS UsbAudioDevice::WriteDeviceDword(PCWSTR name, ULONG value)
{
    if (!m_ksDevice || !m_ksDevice->PhysicalDeviceObject) return STATUS_DEVICE_NOT_CONNECTED;
    if (!m_deviceKey) return STATUS_OBJECT_NAME_NOT_FOUND;
    return WriteDword(m_deviceKey, name, value);
}

bool UsbAudioDevice::IsKinetraHidden()
{
    if (DontHideKinetraPorts != 0) return false;
    ULONG value = 0;
    ReadDeviceDword(WIDE("DontHideKinetraPorts"), &value);
    return value == 0;
}

template <class Action>
NTSTATUS UsbAudioDevice::ForEachStream(Action action)
{
    for (ULONG i = 0; i < m_captureCount; ++i) {
        NTSTATUS status = action(m_captureStreams[i]);
        if (!NT_SUCCESS(status)) return status;
    }
    for (ULONG i = 0; i < m_renderCount; ++i) {
        NTSTATUS status = action(m_renderStreams[i]);
        if (!NT_SUCCESS(status)) return status;
    }
    return STATUS_SUCCESS;
}

void UsbAudioDevice::RegisterAudioStream(AudioStream* stream)
{
    if (!stream) return;
    const bool capture = stream->IsCapture();
    ULONG& count = capture ? m_captureCount : m_renderCount;
    // A stream that has no table slot or no room for its pins is not kept.
    if (count >= kMaxStreams || !m_filterDescriptor || !m_filterDescriptor->HasRoomForAudioPinPair()) {
        delete stream;
        return;
    }
    (capture ? m_captureStreams : m_renderStreams)[count++] = stream;
    m_filterDescriptor->AddAudioPinPair(capture ? 1 : 0);
    stream->SetSampleRate(m_sampleRate);
    if (!capture) m_filterDescriptor->SetRenderChannels(stream->Channels());
}

void UsbAudioDevice::RegisterMidiEndpoint(MidiEndpoint* endpoint, bool hidden)
{
    if (!endpoint) return;
    if (endpoint->PortCount() == 0 || m_midiEndpointCount >= kMaxMidiEndpoints || !m_filterDescriptor) {
        delete endpoint;
        return;
    }
    m_midiEndpoints[m_midiEndpointCount++] = endpoint;
    const ULONG direction = endpoint->DirectionBit();
    for (ULONG i = 0; i < endpoint->PortCount(); ++i) {
        // The pin-to-port map covers pin ids below 16; a port beyond it, or
        // beyond the descriptor's room, gets no pin.
        if (m_filterDescriptor->PinCount() >= kMaxMidiPinIds || !m_filterDescriptor->HasRoomForMidiPinPair())
            break;
        ULONG pin = m_filterDescriptor->AddMidiPinPair(direction, hidden);
        m_pinToMidiPort[pin] = endpoint->Port(i);
        m_midiPinCount[direction] += 1;
    }
    endpoint->StartEndpoint();
}

void UsbAudioDevice::PowerUp()
{
    for (ULONG i = 0; i < m_midiEndpointCount; ++i) m_midiEndpoints[i]->StartEndpoint();
    for (ULONG i = 0; i < m_captureCount; ++i) m_captureStreams[i]->Resume();
    for (ULONG i = 0; i < m_renderCount; ++i) m_renderStreams[i]->Resume();
}

void UsbAudioDevice::PowerDown()
{
    for (ULONG i = 0; i < m_midiEndpointCount; ++i) m_midiEndpoints[i]->StopEndpoint();
    for (ULONG i = 0; i < m_captureCount; ++i) m_captureStreams[i]->Suspend();
    for (ULONG i = 0; i < m_renderCount; ++i) m_renderStreams[i]->Suspend();
}

// The whole change happens under the device mutex, the stored value and
// the registry included: two clients setting it at once are served one
// after the other, and what the property reads is what the streams carry.
NTSTATUS UsbAudioDevice::SetUrbSize(ULONG value)
{
    // A zero-length transfer would never advance the stream's frame grid,
    // and a longer one than a request can carry would not be accepted.
    if (!IsValidUrbSize(value)) return STATUS_INVALID_PARAMETER;

    KsAcquireDevice(m_ksDevice);
    const ULONG old = GetUrbSize();
    NTSTATUS status = value == old ? STATUS_SUCCESS : ResizeStreams(value);
    if (value != old && NT_SUCCESS(status)) {
        WriteRelease(&m_urbSize, LONG(value));
        GenerateDeviceEvent(&KSEVENTSETID_DeviceSettings, KSEVENT_DEVICESETTINGS_CHANGED, sizeof(value), &value);
        WriteDeviceDword(WIDE("UrbSize"), value);
    } else if (!NT_SUCCESS(status)) {
        // Streams already rebuilt go back to the size still in force.
        ResizeStreams(old);
    }
    KsReleaseDevice(m_ksDevice);
    return status;
}

NTSTATUS UsbAudioDevice::ResizeStreams(ULONG value)
{
    return ForEachStream([value](AudioStream* stream) { return stream->ChangeUrbSize(value); });
}

void UsbAudioDevice::GenerateDeviceEvent(const GUID* eventSet, ULONG eventId, ULONG dataSize, PVOID data)
{
    PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(m_ksDevice);
    if (!factory) return;
    for (PKSFILTER filter = KsFilterFactoryGetFirstChildFilter(factory); filter;
         filter = KsFilterGetNextSiblingFilter(filter))
        KsGenerateEvents(filter, eventSet, eventId, dataSize, data, nullptr, nullptr);
}

// Pins of several filters open and close at once; the rate and the count
// of pins holding it change under the rate lock. Not the device mutex: pin
// creation holds its filter's control mutex, which ranks below it.
NTSTATUS UsbAudioDevice::AcquireSampleRate(ULONG rate)
{
    PassiveLockGuard guard(m_rateLock);
    if (rate != m_sampleRate && m_openAudioPins != 0) return STATUS_INSUFFICIENT_RESOURCES;
    // Every stream must carry the rate, also one that refused it before: a
    // pin must never be created at a rate the wire does not carry.
    NTSTATUS status = ApplySampleRate(rate);
    if (!NT_SUCCESS(status)) {
        // Streams that took the new rate go back to the device's.
        if (rate != m_sampleRate) ApplySampleRate(m_sampleRate);
        return status;
    }
    m_sampleRate = rate;
    m_openAudioPins += 1;
    return STATUS_SUCCESS;
}

NTSTATUS UsbAudioDevice::ApplySampleRate(ULONG rate)
{
    return ForEachStream([rate](AudioStream* stream) { return stream->SetSampleRate(rate); });
}

void UsbAudioDevice::ReleaseSampleRate()
{
    PassiveLockGuard guard(m_rateLock);
    if (m_openAudioPins > 0) m_openAudioPins -= 1;
}
