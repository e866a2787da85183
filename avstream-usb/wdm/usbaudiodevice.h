// The per-device context: the USB model, the streams and MIDI endpoints
// built from it, the MIDI pin map, the device-wide sample rate and the
// settings of the device's registry key.
#pragma once

#include "kernelobject.h"
#include "passivelock.h"
#include "usbdevice.h"

#include <windef.h>
#include <ks.h>

class AudioStream;
class MidiEndpoint;
class MidiPort;
class DynamicFilterDescriptor;

constexpr USHORT kVendorId = MRV_VENDOR_ID;
constexpr ULONG kMaxStreams = 16;
constexpr ULONG kMaxMidiEndpoints = 16;
// Pin ids a MIDI streaming pin may have (the size of the pin-to-port map).
constexpr ULONG kMaxMidiPinIds = 16;
constexpr ULONG kDefaultUrbSize = 10;
constexpr ULONG kMaxUrbSize = 255;
constexpr ULONG kDefaultSampleRate = 48000;

class UsbAudioDevice : public KernelObject {
public:
    explicit UsbAudioDevice(PKSDEVICE ksDevice);
    ~UsbAudioDevice();
    UsbAudioDevice(const UsbAudioDevice&) = delete;
    UsbAudioDevice& operator=(const UsbAudioDevice&) = delete;

    // Creates the streams and MIDI endpoints the device's interfaces call for.
    NTSTATUS Enumerate();
    void RegisterAudioStream(AudioStream* stream);
    void RegisterMidiEndpoint(MidiEndpoint* endpoint, bool hidden);
    bool IsKinetraHidden();

    // Empties the MIDI endpoint, capture and render tables (in that order)
    // and releases the USB configuration.
    void Remove();
    // D0: MIDI endpoints started, then capture and render streams resumed.
    void PowerUp();
    // D3: MIDI endpoints stopped, then capture and render streams suspended.
    void PowerDown();

    ULONG GetUrbSize() const { return ULONG(ReadAcquire(&m_urbSize)); }
    // Rebuilds every stream for the new transfer length under the device
    // mutex, tells the clients, and stores the value in the device key. On
    // failure every stream keeps the length in force.
    NTSTATUS SetUrbSize(ULONG value);
    // Signals the event on every filter of the device.
    void GenerateDeviceEvent(const GUID* eventSet, ULONG eventId, ULONG dataSize, PVOID data);

    // All audio pins of the device share one rate; it may change only while
    // none is open, and only if every stream takes it. A failure refuses the
    // pin and leaves the rate as it was.
    NTSTATUS AcquireSampleRate(ULONG rate);
    void ReleaseSampleRate();

    // Registry values of the device's driver key. STATUS_DEVICE_NOT_CONNECTED
    // when the device has no physical device object.
    NTSTATUS ReadDeviceDword(PCWSTR name, ULONG* value);
    NTSTATUS WriteDeviceDword(PCWSTR name, ULONG value);

    PKSDEVICE KsDevice() const { return m_ksDevice; }
    UsbDevice& Usb() { return m_usb; }
    DynamicFilterDescriptor* FilterDescriptor() const { return m_filterDescriptor; }
    ULONG SampleRate() const { return m_sampleRate; }
    ULONG OpenAudioPins() const { return m_openAudioPins; }

    ULONG CaptureStreamCount() const { return m_captureCount; }
    ULONG RenderStreamCount() const { return m_renderCount; }
    AudioStream* CaptureStream(ULONG i) const { return i < m_captureCount ? m_captureStreams[i] : nullptr; }
    AudioStream* RenderStream(ULONG i) const { return i < m_renderCount ? m_renderStreams[i] : nullptr; }
    ULONG MidiEndpointCount() const { return m_midiEndpointCount; }
    MidiEndpoint* GetMidiEndpoint(ULONG i) const { return i < m_midiEndpointCount ? m_midiEndpoints[i] : nullptr; }
    // The port a MIDI streaming pin serves, or null.
    MidiPort* PortForPin(ULONG pinId) const { return pinId < kMaxMidiPinIds ? m_pinToMidiPort[pinId] : nullptr; }
    // MIDI pins by direction bit: [0] out, [1] in.
    ULONG MidiPinCount(ULONG direction) const { return m_midiPinCount[direction & 1]; }

    // UrbSize values the streams can be built with: a transfer of at least
    // one frame, and no more frames than one isochronous request may carry.
    static bool IsValidUrbSize(ULONG value) { return value >= 1 && value <= kMaxUrbSize; }

private:
    NTSTATUS EnumerateGeneric();
    NTSTATUS AddStreamingInterface(ULONG index);
    void ReleaseStreamsAndEndpoints();
    // Interface `index` when it has exactly `pipes` pipes and, where given
    // (not -1), the class and subclass; null otherwise.
    UsbInterface* MatchInterface(ULONG index, ULONG pipes, LONG interfaceClass = -1, LONG subClass = -1);
    void AddAudioStream(UsbEndpoint* endpoint, ULONG channels);
    // Every capture stream, then every render stream; stops at the first
    // failure and returns it.
    template <class Action>
    NTSTATUS ForEachStream(Action action);
    NTSTATUS ResizeStreams(ULONG value);
    NTSTATUS ApplySampleRate(ULONG rate);
    template <class Variant>
    void AddMidiEndpoints(UsbInterface* iface, bool hidden);

    PKSDEVICE m_ksDevice;
    UsbDevice m_usb;
    MidiEndpoint* m_midiEndpoints[kMaxMidiEndpoints] = {};
    ULONG m_midiEndpointCount = 0;
    MidiPort* m_pinToMidiPort[kMaxMidiPinIds] = {};
    ULONG m_midiPinCount[2] = {};
    AudioStream* m_captureStreams[kMaxStreams] = {};
    ULONG m_captureCount = 0;
    AudioStream* m_renderStreams[kMaxStreams] = {};
    ULONG m_renderCount = 0;
    // A rate change sends a request and waits for it while holding it.
    PassiveLock m_rateLock;
    ULONG m_sampleRate = kDefaultSampleRate;  // under the rate lock
    ULONG m_openAudioPins = 0;                // under the rate lock
    HANDLE m_deviceKey = nullptr;
    // Written under the device mutex; read anywhere.
    volatile LONG m_urbSize = kDefaultUrbSize;
    DynamicFilterDescriptor* m_filterDescriptor = nullptr;
};
