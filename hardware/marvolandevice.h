// A Marvolan device on the virtual bus: its descriptors plus the behaviour
// of its data endpoints. Every isochronous OUT endpoint is an AudioSink,
// every isochronous IN endpoint an AudioSource, every bulk or interrupt
// endpoint a MIDI endpoint in the wire format of its interface (class MIDI
// streaming and the Kinetra ports: class event packets; the vendor
// interfaces of 0x0A, 0x0F and 0x10: raw; 0x0E: running status; the
// generic device's vendor interface: framed). Found by walking the
// configuration descriptor, so any set, however odd, gets what it has.
//
// Defaults: sources send silence with nominal packet lengths; MIDI IN
// endpoints send nothing until scripted; echo is off.
#pragma once

#include "hardware/audiosource.h"
#include "hardware/midioutput.h"
#include "usb/descriptordevice.h"

#include <atomic>
#include <map>
#include <memory>

namespace usbsim {
class BusDevice;
}

namespace hardware {

class MarvolanDevice : public usbsim::DescriptorDevice {
public:
    // The rate of an endpoint whose sampling frequency the host never set.
    static constexpr ULONG kDefaultRate = 48000;

    explicit MarvolanDevice(usbsim::DescriptorSet set);

    // ---- Endpoints (std::out_of_range for an address the device lacks) ----
    AudioSink& AudioOut(UCHAR endpointAddress);
    AudioSource& AudioIn(UCHAR endpointAddress);
    MidiOutput& MidiOut(UCHAR endpointAddress);
    MidiInput& MidiIn(UCHAR endpointAddress);
    std::vector<UCHAR> AudioOutEndpoints() const;
    std::vector<UCHAR> AudioInEndpoints() const;
    std::vector<UCHAR> MidiOutEndpoints() const;
    std::vector<UCHAR> MidiInEndpoints() const;

    // ---- Whole-device behaviour ----
    // Every IN source plays back the first OUT endpoint delayFrames later.
    void LoopBackAudio(ULONG delayFrames);
    // Every MIDI OUT endpoint echoes to the IN endpoint of its interface.
    void EchoMidi(bool on);
    // The rate the device runs an endpoint at: the host's last SET_CUR, or
    // kDefaultRate.
    ULONG Rate(UCHAR endpointAddress) const;
    // Stalls the sampling frequency request on the isochronous endpoints
    // of one direction or both, as a device whose rate belongs to a clock
    // entity does. Takes effect from the next request.
    enum class RateRequests { Accepted, StalledOnRender, StalledOnCapture, Stalled };
    void SetRateRequests(RateRequests answer) { m_rateRequests.store(answer); }
    USBD_STATUS Control(const usbsim::ControlRequest& request, std::span<uint8_t> data,
                        ULONG* transferred) override;

    // ---- The bus ----
    void Attached(usbsim::BusDevice* busDevice) override;
    void IsochronousOut(UCHAR endpointAddress, ULONG frame, std::span<const uint8_t> packet) override;
    ULONG IsochronousIn(UCHAR endpointAddress, ULONG frame, std::span<uint8_t> buffer) override;
    bool BulkOut(UCHAR endpointAddress, std::span<const uint8_t> data) override;
    std::optional<ULONG> BulkIn(UCHAR endpointAddress, std::span<uint8_t> buffer,
                                USBD_STATUS* status) override;

private:
    void Build();
    void Wake();

    std::atomic<usbsim::BusDevice*> m_busDevice = nullptr;
    std::atomic<RateRequests> m_rateRequests = RateRequests::Accepted;
    // Fixed after construction; the objects guard themselves.
    std::map<UCHAR, std::unique_ptr<AudioSink>> m_sinks;
    std::map<UCHAR, std::unique_ptr<AudioSource>> m_sources;
    std::map<UCHAR, std::unique_ptr<MidiOutput>> m_midiOut;
    std::map<UCHAR, std::unique_ptr<MidiInput>> m_midiIn;
    std::map<UCHAR, UCHAR> m_echoPartner;  // MIDI OUT address -> IN address of its interface
};

}  // namespace hardware
