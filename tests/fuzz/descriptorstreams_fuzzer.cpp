// Arbitrary descriptor sets plugged in through the PnP manager and then
// used as a client would: every audio pin the filter offers opened at each
// offered rate, width and channel count and run for a few frames of bus
// time, every MIDI pin written to and read from. No crash, no verifier
// report, and no pool left once the device is unplugged, whatever the
// descriptors say.
//
// Input: see fuzzdescriptorset.h; bits 1-2 of byte 1 also choose the
// UrbSize set before streaming.
#include "devicesettings.h"
#include "fuzzdescriptorset.h"
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
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

constexpr const char* kInstance = "USB\\VID_3A1E&PID_FUZZ\\streams";
constexpr ULONG kUrbSizes[] = {1, 2, 3, 10};
constexpr ULONG kRates[] = {44100, 48000};
constexpr USHORT kWidths[] = {16, 24};
constexpr USHORT kChannels[] = {2, 4};
constexpr ULONG kMaxPins = 32;
// A stream's first transfer starts 10 frames ahead and ends UrbSize later;
// two more transfers' worth see it resubmitted and its clients served.
constexpr ULONG kLeadFrames = 10;

PDRIVER_OBJECT g_driver = nullptr;
RecycledBus g_buses;

// Steps the bus from a thread of its own while the fuzzer's thread waits
// in a call that needs frames to pass. One thread for the whole run:
// starting one per wait would cost more than the streaming itself.
class BackgroundClock {
public:
    BackgroundClock() : m_thread([this] { Run(); }) {}

    // Runs `call` with the clock stepping meanwhile.
    template <class Call>
    void While(Call call)
    {
        {
            std::lock_guard lock(m_lock);
            m_bus = g_buses.Current();
        }
        m_wake.notify_one();
        call();
        std::unique_lock lock(m_lock);
        m_bus = nullptr;
        // Not back to the caller while a step is still under way.
        m_idle.wait(lock, [this] { return !m_stepping; });
    }

private:
    void Run()
    {
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bus != nullptr; });
            usbsim::Bus* bus = m_bus;
            m_stepping = true;
            lock.unlock();
            bus->StepFrames(1);
            lock.lock();
            m_stepping = false;
            m_idle.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    usbsim::Bus* m_bus = nullptr;  // the bus to step, null when idle
    bool m_stepping = false;
    std::thread m_thread;
};
BackgroundClock* g_clock = nullptr;

// One request a client has queued, with the memory it points at.
struct Queued {
    KSSTREAM_HEADER header{};
    std::vector<uint8_t> data;
    std::unique_ptr<kmsim::KsStreamRequest> request;
};

void Submit(kmsim::KsClientHandle& pin, std::deque<Queued>& queued, std::vector<uint8_t> bytes, bool read)
{
    Queued& q = queued.emplace_back();
    q.data = std::move(bytes);
    q.header.Size = sizeof(KSSTREAM_HEADER);
    q.header.FrameExtent = ULONG(q.data.size());
    q.header.DataUsed = read ? 0 : ULONG(q.data.size());
    q.header.Data = q.data.data();
    pin.SubmitStream(read ? IOCTL_KS_READ_STREAM : IOCTL_KS_WRITE_STREAM, &q.header, sizeof(q.header), &q.request);
}

// Leaving RUN waits for the stream's transfers, which end only as frames
// pass: the clock runs meanwhile, as on a real bus. Queued requests are
// given back before their memory goes.
void Close(std::unique_ptr<kmsim::KsClientHandle>& pin, std::deque<Queued>& queued)
{
    g_clock->While([&] { pin->SetState(KSSTATE_STOP); });
    pin->Close();
    pin.reset();
    queued.clear();
}

bool RendersInto(kmsim::KsClientHandle& filter, ULONG pinId)
{
    KSPIN_DATAFLOW flow = KSPIN_DATAFLOW_OUT;
    return NT_SUCCESS(filter.PinProperty(pinId, KSPROPERTY_PIN_DATAFLOW, &flow, sizeof(flow))) &&
           flow == KSPIN_DATAFLOW_IN;
}

// Opens the pin in every format the driver offers, one after the other,
// and runs each that it accepts. False when it accepts none.
bool StreamAudio(kmsim::KsClientHandle& filter, ULONG pinId, ULONG urbSize)
{
    const bool render = RendersInto(filter, pinId);
    bool any = false;
    for (ULONG rate : kRates)
        for (USHORT bits : kWidths)
            for (USHORT channels : kChannels) {
                const WaveFormat format = PcmFormat(rate, bits, channels);
                std::unique_ptr<kmsim::KsClientHandle> pin;
                if (!NT_SUCCESS(filter.CreatePin(PinConnect(pinId), &format.format, &pin))) continue;
                any = true;
                std::deque<Queued> queued;
                // Two frames of 4 ms each: a ramp to render, or room to capture.
                const ULONG bytes = (rate / 1000) * 4 * format.wave.Format.nBlockAlign;
                for (int f = 0; f < 2; ++f) {
                    std::vector<uint8_t> data(bytes);
                    for (ULONG i = 0; i < bytes; ++i) data[i] = uint8_t(i * 7 + f);
                    Submit(*pin, queued, std::move(data), !render);
                }
                if (NT_SUCCESS(pin->SetState(KSSTATE_RUN))) g_buses.Current()->StepFrames(kLeadFrames + 3 * urbSize);
                Close(pin, queued);
            }
    return any;
}

void StreamMidi(kmsim::KsClientHandle& filter, ULONG pinId)
{
    const bool out = RendersInto(filter, pinId);
    for (const GUID* subtype : {&KSDATAFORMAT_SUBTYPE_MIDI, &KSDATAFORMAT_SUBTYPE_HiddenMidi}) {
        KSDATAFORMAT format{};
        format.FormatSize = sizeof(format);
        format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
        format.SubFormat = *subtype;
        format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
        std::unique_ptr<kmsim::KsClientHandle> pin;
        if (!NT_SUCCESS(filter.CreatePin(PinConnect(pinId), &format, &pin))) continue;
        std::deque<Queued> queued;
        if (NT_SUCCESS(pin->SetState(KSSTATE_RUN))) {
            if (out) {
                // A note, and SysEx longer than any one packet.
                const uint8_t note[] = {0x90, 0x3C, 0x64};
                std::vector<uint8_t> sysex = {0xF0};
                for (int i = 0; i < 70; ++i) sysex.push_back(uint8_t(i & 0x7F));
                sysex.push_back(0xF7);
                for (const auto& event : {std::vector<uint8_t>(note, note + 3), sysex}) {
                    std::vector<uint8_t> frame(sizeof(KSMUSICFORMAT));
                    const KSMUSICFORMAT header{0, ULONG(event.size())};
                    std::memcpy(frame.data(), &header, sizeof(header));
                    frame.insert(frame.end(), event.begin(), event.end());
                    frame.resize((frame.size() + 3) & ~size_t(3), 0);
                    Submit(*pin, queued, std::move(frame), false);
                }
            } else {
                for (int i = 0; i < 2; ++i) Submit(*pin, queued, std::vector<uint8_t>(64, 0xEE), true);
            }
            g_buses.Current()->StepFrames(4);
        }
        Close(pin, queued);
    }
}

void UseFilter(ULONG urbSize)
{
    auto interfaces = kmsim::DeviceInterfaces(KSCATEGORY_AUDIO);
    const kmsim::DeviceInterfaceRecord* found = nullptr;
    for (const auto& record : interfaces)
        if (record.enabled) found = &record;
    if (!found) return;
    std::unique_ptr<kmsim::KsClientHandle> filter;
    if (!NT_SUCCESS(kmsim::KsClientHandle::OpenFilter(found->symbolicLink, &filter))) return;

    filter->Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, KSPROPERTY_TYPE_SET, &urbSize,
                     sizeof(urbSize));
    ULONG pins = 0;
    filter->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET, &pins, sizeof(pins));
    for (ULONG pinId = 0; pinId < pins && pinId < kMaxPins; ++pinId)
        if (!StreamAudio(*filter, pinId, urbSize)) StreamMidi(*filter, pinId);
    filter->Close();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    DisablePerInputLeakScan(argc, argv);
    AbortOnVerifierFindings();
    // Requests never time out here, but keep any wait short.
    kmsim::SetTimeoutScale(0.001);
    // Never joined: the process ends with the fuzzer.
    g_clock = new BackgroundClock;
    if (!NT_SUCCESS(kmsim::LoadDriver("mrvusbaudio", DriverEntry, &g_driver))) {
        std::fprintf(stderr, "the driver did not load\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    usbsim::Bus& bus = g_buses.ForNextRun();
    const kmsim::PoolUsage before = kmsim::PoolOutstandingAll();

    auto device = hardware::MakeDeviceFromDescriptors(FuzzDescriptorSet(data, size));
    device->LoopBackAudio(1);
    device->EchoMidi(true);
    usbsim::BusDevice& plugged = bus.Plug(std::move(device));
    if (NT_SUCCESS(kmsim::PlugDevice(g_driver, plugged.Pdo(), kInstance))) UseFilter(kUrbSizes[(data[1] >> 1) & 3]);
    kmsim::UnplugDevice(plugged.Pdo());
    bus.Remove(plugged);

    const kmsim::PoolUsage after = kmsim::PoolOutstandingAll();
    if (after.bytes != before.bytes || after.allocations != before.allocations) {
        std::fprintf(stderr, "pool leaked:\n%s", kmsim::PoolLeakReport().c_str());
        std::abort();
    }
    return 0;
}
