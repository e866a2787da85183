#include "kernelrig.h"

#include "hardware/devices.h"
#include "km/ksdeviceinterfaces.h"
#include "km/pnpmanager.h"
#include "km/verifier.h"

#include <ks.h>
#include <ksmedia.h>

#include "devicesettings.h"

#include <cstdio>
#include <cstring>

// Bus frames between the device hearing a sample and sending it back.
constexpr ULONG kLoopDelayFrames = 2;
// The driver's waits for the bus (an OUT buffer the device has not taken yet)
// give up after a second of real time; a bus stepped by a thread that a busy
// machine leaves unscheduled for that long would make the driver drop what
// it was sending. The runs stretch those time-outs instead.
constexpr double kTimeoutScale = 60.0;

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

template <typename T>
bool PinValue(kmsim::KsClientHandle& filter, ULONG pin, ULONG id, T* value)
{
    return NT_SUCCESS(filter.PinProperty(pin, id, value, sizeof(T)));
}

// The subformat of the pin's first data range, if it is a MUSIC one.
bool MusicSubFormat(kmsim::KsClientHandle& filter, ULONG pin, GUID* subFormat)
{
    alignas(8) uint8_t ranges[512];
    ULONG_PTR returned = 0;
    if (!NT_SUCCESS(filter.PinProperty(pin, KSPROPERTY_PIN_DATARANGES, ranges, sizeof(ranges), &returned))) return false;
    KSMULTIPLE_ITEM header;
    KSDATARANGE range;
    if (returned < sizeof(header) + sizeof(range)) return false;
    std::memcpy(&header, ranges, sizeof(header));
    std::memcpy(&range, ranges + sizeof(header), sizeof(range));
    if (header.Count == 0 || !IsEqualGUID(range.MajorFormat, KSDATAFORMAT_TYPE_MUSIC)) return false;
    *subFormat = range.SubFormat;
    return true;
}

}  // namespace

KernelRig::KernelRig()
{
    m_keyHandlesBefore = kmsim::OpenKeyHandleCount();
    kmsim::SetTimeoutScale(kTimeoutScale);
    kmsim::SetViolationHandler([this](const kmsim::Violation& v) {
        ++m_findings;
        std::fprintf(stderr, "verifier: %s: %s\n", v.category.c_str(), v.message.c_str());
    });
}

KernelRig::~KernelRig()
{
    if (Plugged()) Unplug();
    if (m_driver) kmsim::UnloadDriver(m_driver);
    kmsim::SetViolationHandler(nullptr);
    kmsim::SetTimeoutScale(1.0);
}

NTSTATUS KernelRig::Plug(uint16_t product)
{
    if (!m_driver) {
        const NTSTATUS status = kmsim::LoadDriver("mrvusbaudio", DriverEntry, &m_driver);
        if (!NT_SUCCESS(status)) return status;
    }
    auto device = hardware::MakeDevice(product);
    device->EchoMidi(true);
    device->LoopBackAudio(kLoopDelayFrames);
    m_hardware = device.get();
    m_busDevice = &m_bus.Plug(std::move(device));
    const std::string instance = "USB\\VID_3A1E&PID_RIG\\plug" + std::to_string(++m_plugs);
    NTSTATUS status = kmsim::PlugDevice(m_driver, m_busDevice->Pdo(), instance);
    if (!NT_SUCCESS(status)) return status;
    for (auto& record : kmsim::DeviceInterfaces(KSCATEGORY_AUDIO)) {
        if (record.enabled) status = kmsim::KsClientHandle::OpenFilter(record.symbolicLink, &m_filter);
    }
    return m_filter ? status : STATUS_NO_SUCH_DEVICE;
}

void KernelRig::Unplug()
{
    if (m_filter && m_filter->IsOpen()) m_filter->Close();
    m_filter.reset();
    kmsim::UnplugDevice(m_busDevice->Pdo());
    m_bus.Remove(*m_busDevice);
    m_busDevice = nullptr;
    m_hardware = nullptr;
}

void KernelRig::SurpriseUnplug()
{
    m_bus.Unplug(*m_busDevice);
    Unplug();
}

std::string KernelRig::UnloadAndCheckLeaks()
{
    if (Plugged()) Unplug();
    if (m_driver) kmsim::UnloadDriver(m_driver);
    m_driver = nullptr;
    std::string leaks;
    if (kmsim::PoolOutstandingAll().allocations != 0) leaks += kmsim::PoolLeakReport();
    if (kmsim::OpenKeyHandleCount() != m_keyHandlesBefore) leaks += "registry key handles left open\n";
    return leaks;
}

std::vector<MidiPinPair> KernelRig::MidiPins()
{
    std::vector<ULONG> outs, ins;
    std::vector<bool> hiddenOuts;
    ULONG pins = 0;
    if (!NT_SUCCESS(m_filter->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET, &pins, sizeof(pins))))
        return {};
    for (ULONG pin = 0; pin < pins; ++pin) {
        KSPIN_DATAFLOW flow{};
        KSPIN_COMMUNICATION communication{};
        GUID subFormat{};
        if (!PinValue(*m_filter, pin, KSPROPERTY_PIN_DATAFLOW, &flow) ||
            !PinValue(*m_filter, pin, KSPROPERTY_PIN_COMMUNICATION, &communication) ||
            communication != KSPIN_COMMUNICATION_SINK || !MusicSubFormat(*m_filter, pin, &subFormat))
            continue;
        if (flow == KSPIN_DATAFLOW_IN) {
            outs.push_back(pin);
            hiddenOuts.push_back(IsEqualGUID(subFormat, KSDATAFORMAT_SUBTYPE_HiddenMidi));
        } else {
            ins.push_back(pin);
        }
    }
    std::vector<MidiPinPair> pairs;
    for (size_t i = 0; i < outs.size() && i < ins.size(); ++i) pairs.push_back({outs[i], ins[i], hiddenOuts[i]});
    return pairs;
}
