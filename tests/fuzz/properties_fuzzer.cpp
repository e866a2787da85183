// Property requests of any set, id, flags and buffer sizes, sent to the
// filter of a plugged device and to its open pins, as a client would send
// them: no crash, no verifier report, whatever comes back.
//
// Input: byte 0 picks the target (filter or one of the pins), byte 1 the
// property set (one the filter knows, or 16 input bytes as a GUID), then
// id, flags, the request's extra length and the data buffer's length; the
// rest fills the request and the data.
#include "devicesettings.h"
#include "verifierabort.h"
#include "hardware/devices.h"
#include "km/ksclient.h"
#include "km/ksdeviceinterfaces.h"
#include "km/pnpmanager.h"
#include "km/verifier.h"
#include "kspinrequests.h"
#include "usb/bus.h"

#include <ks.h>
#include <ksmedia.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

struct Target {
    usbsim::Bus bus;
    PDRIVER_OBJECT driver = nullptr;
    std::unique_ptr<kmsim::KsClientHandle> filter;
    std::vector<std::unique_ptr<kmsim::KsClientHandle>> pins;
};
Target* g_target;

const GUID* const kSets[] = {&KSPROPSETID_Pin,   &KSPROPSETID_Topology, &KSPROPSETID_Connection,
                             &KSPROPSETID_Audio, &KSPROPSETID_General,  &KSPROPSETID_DeviceSettings};

void OpenPin(ULONG pinId, const KSDATAFORMAT* format)
{
    std::unique_ptr<kmsim::KsClientHandle> pin;
    if (NT_SUCCESS(g_target->filter->CreatePin(PinConnect(pinId), format, &pin))) g_target->pins.push_back(std::move(pin));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    DisablePerInputLeakScan(argc, argv);
    AbortOnVerifierFindings();
    g_target = new Target;
    usbsim::BusDevice& device = g_target->bus.Plug(hardware::MakeDevice(hardware::kAudioMidi));
    // The frame clock runs as on a real bus: a pin leaving RUN waits for its
    // stream's transfers, which end only as frames pass.
    g_target->bus.StartPacing(0);
    std::atexit([] { g_target->bus.StopPacing(); });
    if (!NT_SUCCESS(kmsim::LoadDriver("mrvusbaudio", DriverEntry, &g_target->driver)) ||
        !NT_SUCCESS(kmsim::PlugDevice(g_target->driver, device.Pdo(), "USB\\VID_3A1E&PID_0010\\fuzz"))) {
        std::fprintf(stderr, "the device did not start\n");
        std::abort();
    }
    auto interfaces = kmsim::DeviceInterfaces(KSCATEGORY_AUDIO);
    if (interfaces.empty() || !NT_SUCCESS(kmsim::KsClientHandle::OpenFilter(interfaces.back().symbolicLink,
                                                                              &g_target->filter)))
        std::abort();

    const WaveFormat audio = PcmFormat(48000, 24, 2);
    OpenPin(0, &audio.format);  // render
    OpenPin(2, &audio.format);  // capture
    KSDATAFORMAT midi{};
    midi.FormatSize = sizeof(midi);
    midi.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    midi.SubFormat = KSDATAFORMAT_SUBTYPE_MIDI;
    midi.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    OpenPin(4, &midi);  // MIDI out
    OpenPin(6, &midi);  // MIDI in
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8) return 0;
    kmsim::KsClientHandle* target = g_target->filter.get();
    if (data[0] % 5 != 0 && data[0] % 5 <= g_target->pins.size()) target = g_target->pins[data[0] % 5 - 1].get();

    const uint8_t* cursor = data + 8;
    const uint8_t* end = data + size;
    GUID set{};
    if (data[1] < 0xF0) {
        set = *kSets[data[1] % (sizeof(kSets) / sizeof(kSets[0]))];
    } else if (end - cursor >= 16) {
        std::memcpy(&set, cursor, 16);
        cursor += 16;
    }
    const ULONG id = data[2] % 16;
    static const ULONG kFlags[] = {KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET, KSPROPERTY_TYPE_BASICSUPPORT, 0,
                                   KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET};
    const ULONG flags = data[3] < 0xF0 ? kFlags[data[3] % 5] : ULONG(data[3]) << 24;
    // The request: anything from nothing to a KSPROPERTY with extra bytes.
    const ULONG requestBytes = data[4] % 64;
    const ULONG dataBytes = ULONG(data[5]) | ULONG(data[6] % 4) << 8;

    std::vector<uint8_t> request(requestBytes);
    KSPROPERTY property{};
    property.Set = set;
    property.Id = id;
    property.Flags = flags;
    if (requestBytes) std::memcpy(request.data(), &property, std::min<size_t>(requestBytes, sizeof(property)));
    for (size_t i = sizeof(property); i < requestBytes && cursor < end; ++i) request[i] = *cursor++;

    std::vector<uint8_t> buffer(dataBytes);
    for (size_t i = 0; i < dataBytes && cursor < end; ++i) buffer[i] = *cursor++;
    target->DeviceIoControl(IOCTL_KS_PROPERTY, requestBytes ? request.data() : nullptr, requestBytes,
                            dataBytes ? buffer.data() : nullptr, dataBytes);
    return 0;
}
