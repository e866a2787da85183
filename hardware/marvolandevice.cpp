#include "hardware/marvolandevice.h"

#include "hardware/devices.h"
#include "usb/busdevice.h"
#include "usb/descriptorwalk.h"

#include <stdexcept>

namespace hardware {

namespace {

constexpr uint8_t kCsInterface = 0x24;
constexpr uint8_t kFormatTypeSubtype = 0x02;
constexpr uint8_t kFormatTypeI = 0x01;
constexpr uint8_t kUsageMask = 0x30;  // endpoint bmAttributes bits 4-5
constexpr uint8_t kUsageData = 0x00;
constexpr ULONG kStereo = 2;
constexpr uint16_t kSamplingFrequencyControl = 0x0100;
constexpr uint8_t kAsGeneralSubtype = 0x01;

uint16_t ProductIdOf(const std::vector<uint8_t>& device)
{
    if (device.size() < 12) return 0;
    return uint16_t(device[10] | device[11] << 8);
}

// The wire format of a MIDI pipe in an interface of this class.
MidiFormat MidiFormatFor(uint16_t productId, const USB_INTERFACE_DESCRIPTOR& interface)
{
    if (interface.bInterfaceClass == kClassAudio && interface.bInterfaceSubClass == kSubClassMidiStreaming)
        return MidiFormat::Class;
    if (interface.bInterfaceClass != kClassVendor) return MidiFormat::Raw;
    switch (productId) {
    case kRawMidiA:
    case kRawMidiB:
    case kAudioMidi:
        return MidiFormat::Raw;
    case kRunningStatusMidi:
        return MidiFormat::RunningStatus;
    case kClassMidiSmall:
    case kClassMidiMedium:
    case kClassMidiLarge:
        return MidiFormat::Class;  // the Kinetra ports
    default:
        return MidiFormat::Framed;
    }
}

// Channels of an isochronous pipe: the type I format descriptor of its
// alternate setting, or the fixed layout of the vendor audio interface.
ULONG ChannelsFor(uint16_t productId, const USB_INTERFACE_DESCRIPTOR& interface, ULONG declared,
                  bool in)
{
    if (declared != 0) return declared;
    if (productId == kAudioMidi && interface.bInterfaceClass == kClassVendor) return in ? 2 : 4;
    return kStereo;
}

template <class T>
T& Lookup(const std::map<UCHAR, std::unique_ptr<T>>& table, UCHAR address, const char* what)
{
    auto it = table.find(address);
    if (it == table.end()) {
        char text[64];
        snprintf(text, sizeof text, "the device has no %s endpoint 0x%02X", what, address);
        throw std::out_of_range(text);
    }
    return *it->second;
}

template <class T>
std::vector<UCHAR> Addresses(const std::map<UCHAR, std::unique_ptr<T>>& table)
{
    std::vector<UCHAR> addresses;
    for (const auto& [address, object] : table) addresses.push_back(address);
    return addresses;
}

}  // namespace

MarvolanDevice::MarvolanDevice(usbsim::DescriptorSet set) : DescriptorDevice(std::move(set)) { Build(); }

void MarvolanDevice::Build()
{
    const uint16_t productId = ProductIdOf(Descriptors().device);
    const std::vector<uint8_t>& configuration = Descriptors().configuration;
    const usbsim::DescriptorRange range = usbsim::ConfigurationRange(configuration.data(), configuration.size());

    const USB_INTERFACE_DESCRIPTOR* interface = nullptr;
    ULONG declaredChannels = 0;
    std::optional<UCHAR> midiOut, midiIn;  // of the current interface, for the echo
    auto pairMidi = [&] {
        if (midiOut && midiIn) m_echoPartner.emplace(*midiOut, *midiIn);
        midiOut.reset();
        midiIn.reset();
    };

    for (auto* d = range.At(range.begin); d; d = range.Next(d)) {
        if (const USB_INTERFACE_DESCRIPTOR* i = usbsim::AsInterface(d)) {
            pairMidi();
            interface = i;
            declaredChannels = 0;
            continue;
        }
        auto* bytes = reinterpret_cast<const uint8_t*>(d);
        // Audio class 2.0 declares the channels in the general descriptor,
        // 1.0 in the type I format descriptor.
        const bool class2 = interface && interface->bInterfaceProtocol == kAudioClass2Protocol;
        if (class2 && d->bDescriptorType == kCsInterface && d->bLength >= 11 && bytes[2] == kAsGeneralSubtype) {
            declaredChannels = bytes[10];
            continue;
        }
        if (!class2 && d->bDescriptorType == kCsInterface && d->bLength >= 5 && bytes[2] == kFormatTypeSubtype &&
            bytes[3] == kFormatTypeI) {
            declaredChannels = bytes[4];
            continue;
        }
        const USB_ENDPOINT_DESCRIPTOR* e = usbsim::AsEndpoint(d);
        if (!e || !interface) continue;
        const UCHAR address = e->bEndpointAddress;
        const bool in = (address & 0x80) != 0;
        const size_t maxPacket = e->wMaxPacketSize & 0x7FF;
        switch (e->bmAttributes & USB_ENDPOINT_TYPE_MASK) {
        case USB_ENDPOINT_TYPE_ISOCHRONOUS: {
            if ((e->bmAttributes & kUsageMask) != kUsageData) break;  // feedback carries no audio
            const ULONG channels = ChannelsFor(productId, *interface, declaredChannels, in);
            if (in)
                m_sources.try_emplace(address, std::make_unique<AudioSource>(address, channels));
            else
                m_sinks.try_emplace(address, std::make_unique<AudioSink>(address, channels));
            break;
        }
        case USB_ENDPOINT_TYPE_BULK:
        case USB_ENDPOINT_TYPE_INTERRUPT: {
            const MidiFormat format = MidiFormatFor(productId, *interface);
            if (in) {
                if (m_midiIn.try_emplace(address, std::make_unique<MidiInput>(address, format, maxPacket)).second &&
                    !midiIn)
                    midiIn = address;
            } else {
                if (m_midiOut.try_emplace(address, std::make_unique<MidiOutput>(address, format, maxPacket))
                        .second &&
                    !midiOut)
                    midiOut = address;
            }
            break;
        }
        default:
            break;
        }
    }
    pairMidi();

    for (auto& [address, input] : m_midiIn) input->SetWake([this] { Wake(); });
    for (auto& [address, output] : m_midiOut) output->SetWake([this] { Wake(); });
}

void MarvolanDevice::Wake()
{
    if (usbsim::BusDevice* bus = m_busDevice.load()) bus->Wake();
}

AudioSink& MarvolanDevice::AudioOut(UCHAR endpointAddress) { return Lookup(m_sinks, endpointAddress, "audio OUT"); }
AudioSource& MarvolanDevice::AudioIn(UCHAR endpointAddress) { return Lookup(m_sources, endpointAddress, "audio IN"); }
MidiOutput& MarvolanDevice::MidiOut(UCHAR endpointAddress) { return Lookup(m_midiOut, endpointAddress, "MIDI OUT"); }
MidiInput& MarvolanDevice::MidiIn(UCHAR endpointAddress) { return Lookup(m_midiIn, endpointAddress, "MIDI IN"); }

std::vector<UCHAR> MarvolanDevice::AudioOutEndpoints() const { return Addresses(m_sinks); }
std::vector<UCHAR> MarvolanDevice::AudioInEndpoints() const { return Addresses(m_sources); }
std::vector<UCHAR> MarvolanDevice::MidiOutEndpoints() const { return Addresses(m_midiOut); }
std::vector<UCHAR> MarvolanDevice::MidiInEndpoints() const { return Addresses(m_midiIn); }

void MarvolanDevice::LoopBackAudio(ULONG delayFrames)
{
    if (m_sinks.empty()) return;
    const AudioSink& sink = *m_sinks.begin()->second;
    for (auto& [address, source] : m_sources) source->SetLoopback(sink, delayFrames);
}

void MarvolanDevice::EchoMidi(bool on)
{
    for (auto& [out, in] : m_echoPartner) m_midiOut.at(out)->EchoTo(on ? m_midiIn.at(in).get() : nullptr);
}

ULONG MarvolanDevice::Rate(UCHAR endpointAddress) const
{
    return SamplingFrequency(endpointAddress).value_or(kDefaultRate);
}

USBD_STATUS MarvolanDevice::Control(const usbsim::ControlRequest& request, std::span<uint8_t> data,
                                    ULONG* transferred)
{
    const auto endpoint = UCHAR(request.index & 0xFF);
    const bool audio = m_sinks.count(endpoint) || m_sources.count(endpoint);
    const bool in = (endpoint & 0x80) != 0;
    bool stalled = false;
    switch (m_rateRequests.load()) {
    case RateRequests::Accepted: break;
    case RateRequests::StalledOnRender: stalled = !in; break;
    case RateRequests::StalledOnCapture: stalled = in; break;
    case RateRequests::Stalled: stalled = true; break;
    }
    if (audio && stalled && request.recipient == usbsim::ControlRequest::Recipient::Endpoint &&
        request.value == kSamplingFrequencyControl) {
        *transferred = 0;
        return USBD_STATUS_STALL_PID;
    }
    return DescriptorDevice::Control(request, data, transferred);
}

void MarvolanDevice::Attached(usbsim::BusDevice* busDevice) { m_busDevice.store(busDevice); }

void MarvolanDevice::IsochronousOut(UCHAR endpointAddress, ULONG frame, std::span<const uint8_t> packet)
{
    auto it = m_sinks.find(endpointAddress);
    if (it != m_sinks.end()) it->second->Receive(frame, packet);
}

ULONG MarvolanDevice::IsochronousIn(UCHAR endpointAddress, ULONG frame, std::span<uint8_t> buffer)
{
    auto it = m_sources.find(endpointAddress);
    if (it == m_sources.end()) return 0;
    return it->second->Produce(frame, Rate(endpointAddress), buffer);
}

bool MarvolanDevice::BulkOut(UCHAR endpointAddress, std::span<const uint8_t> data)
{
    auto it = m_midiOut.find(endpointAddress);
    if (it == m_midiOut.end()) return true;  // taken and forgotten
    return it->second->Receive(data);
}

std::optional<ULONG> MarvolanDevice::BulkIn(UCHAR endpointAddress, std::span<uint8_t> buffer,
                                            USBD_STATUS* status)
{
    auto it = m_midiIn.find(endpointAddress);
    if (it == m_midiIn.end()) return std::nullopt;
    return it->second->Read(buffer, status);
}

}  // namespace hardware
