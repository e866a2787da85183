// A small kernel-streaming minidriver whose one filter follows a scenario:
// pins that report communication both, only a looped interface, no or only
// MIDI ranges, formats they then refuse; a pin count that cannot be read;
// the audio category listed twice; and a property it pends until the test
// completes it.
#include "testmachine.h"

#include <ks.h>
#include <ksmedia.h>

#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>

namespace umtest {

const uint8_t kScriptedPropertySet[16] = {0x5e, 0x1d, 0x3b, 0x7a, 0x91, 0x2c, 0x4f, 0x40,
                                         0x8a, 0x3e, 0x61, 0x07, 0xd2, 0x9b, 0x55, 0xc4};

const char kFakePinNameKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\MediaCategories\\{6B1E0F3A-2C44-4D0B-9E61-70A5C2D8B913}";

namespace {

const GUID kFakePinName = {0x6B1E0F3A, 0x2C44, 0x4D0B, {0x9E, 0x61, 0x70, 0xA5, 0xC2, 0xD8, 0xB9, 0x13}};
const GUID kFilterReference = {0x3c0d2f6e, 0x5a1b, 0x4e7c, {0x9d, 0x20, 0x41, 0x6b, 0x8e, 0x03, 0xa7, 0x52}};

const KSPIN_INTERFACE kStandardInterface = {{{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0}}};
const KSPIN_INTERFACE kLoopedInterface = {{{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 0}}};
const KSPIN_MEDIUM kStandardMedium = {{{KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0}}};

KSDATARANGE_AUDIO PcmRange()
{
    KSDATARANGE_AUDIO range{};
    range.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    range.MaximumChannels = 2;
    range.MinimumBitsPerSample = 16;
    range.MaximumBitsPerSample = 24;
    range.MinimumSampleFrequency = 44100;
    range.MaximumSampleFrequency = 48000;
    return range;
}
const KSDATARANGE_AUDIO kPcmRange = PcmRange();

KSDATARANGE_AUDIO FloatRange()
{
    KSDATARANGE_AUDIO range = PcmRange();
    range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    range.MinimumBitsPerSample = range.MaximumBitsPerSample = 32;
    range.MaximumChannels = 8;
    return range;
}
const KSDATARANGE_AUDIO kFloatRange = FloatRange();

KSDATARANGE MidiRange()
{
    KSDATARANGE range{};
    range.FormatSize = sizeof(KSDATARANGE_MUSIC);
    range.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    range.SubFormat = KSDATAFORMAT_SUBTYPE_MIDI;
    range.Specifier = GUID{};
    return range;
}
KSDATARANGE_MUSIC MusicRange()
{
    KSDATARANGE_MUSIC range{};
    range.DataRange = MidiRange();
    range.Technology = KSMUSIC_TECHNOLOGY_PORT;
    range.Channels = range.Notes = 0;
    range.ChannelMask = 0xFFFF;
    return range;
}
const KSDATARANGE_MUSIC kMusicRange = MusicRange();

const PKSDATARANGE kPcmRanges[] = {const_cast<PKSDATARANGE>(&kPcmRange.DataRange)};
const PKSDATARANGE kPcmThenFloatRanges[] = {const_cast<PKSDATARANGE>(&kPcmRange.DataRange),
                                            const_cast<PKSDATARANGE>(&kFloatRange.DataRange)};
const PKSDATARANGE kMidiRanges[] = {const_cast<PKSDATARANGE>(&kMusicRange.DataRange)};

NTSTATUS RefuseCreate(PKSPIN, PIRP) { return STATUS_NO_MATCH; }
NTSTATUS AcceptFormat(PKSPIN, PKSDATAFORMAT, PKSMULTIPLE_ITEM, const KSDATARANGE*, const KSATTRIBUTE_LIST*)
{
    return STATUS_SUCCESS;
}
const KSPIN_DISPATCH kRefusingDispatch = {.Create = RefuseCreate, .SetDataFormat = AcceptFormat};
const KSPIN_DISPATCH kAcceptingDispatch = {.SetDataFormat = AcceptFormat};

NTSTATUS FailPinCount(PIRP, PKSIDENTIFIER, PVOID) { return STATUS_UNSUCCESSFUL; }
const KSPROPERTY_ITEM kFailingPinCount[] = {
    {.PropertyId = KSPROPERTY_PIN_CTYPES, .GetPropertyHandler = FailPinCount, .MinProperty = sizeof(KSPROPERTY),
     .MinData = sizeof(ULONG)}};
const KSPROPERTY_SET kFailingPinSets[] = {{&KSPROPSETID_Pin, 1, kFailingPinCount, 0, nullptr}};
const KSAUTOMATION_TABLE kFailingPinCountTable = {.PropertySetsCount = 1,
                                                  .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
                                                  .PropertySets = kFailingPinSets};

const GUID kAudioTwice[] = {KSCATEGORY_AUDIO, KSCATEGORY_AUDIO};

// Built from the scenario before the driver loads; read by the class driver
// while the device lives.
struct Published {
    std::vector<KSPIN_DESCRIPTOR_EX> pins;
    KSFILTER_DESCRIPTOR filter{};
    const KSFILTER_DESCRIPTOR* filters[1] = {&filter};
    KSDEVICE_DESCRIPTOR device{};
};

Published& ThePublished()
{
    static Published* published = new Published;
    return *published;
}

struct PendingRequests {
    std::mutex mutex;
    std::condition_variable changed;
    std::list<PIRP> irps;
};

PendingRequests& ThePending()
{
    static PendingRequests* pending = new PendingRequests;
    return *pending;
}

PDRIVER_DISPATCH g_classDispatch = nullptr;

void CancelPending(PDEVICE_OBJECT, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    {
        PendingRequests& p = ThePending();
        std::lock_guard lock(p.mutex);
        p.irps.remove(irp);
    }
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

NTSTATUS Answer(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS AnswerScripted(PIRP irp, const KSPROPERTY& request)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    ULONG outBytes = sp->Parameters.DeviceIoControl.OutputBufferLength;
    switch (request.Id) {
    case kPendedProperty: {
        IoMarkIrpPending(irp);
        PendingRequests& p = ThePending();
        std::lock_guard lock(p.mutex);
        IoSetCancelRoutine(irp, CancelPending);
        p.irps.push_back(irp);
        p.changed.notify_all();
        return STATUS_PENDING;
    }
    case kEmptyProperty: return Answer(irp, STATUS_SUCCESS, 0);
    case kOversizedProperty: {
        if (outBytes == 0) return Answer(irp, STATUS_BUFFER_OVERFLOW, 16);
        if (outBytes < 16 || !irp->UserBuffer) return Answer(irp, STATUS_BUFFER_TOO_SMALL, 16);
        KSMULTIPLE_ITEM item = {4096, 200};
        memset(irp->UserBuffer, 0, 16);
        memcpy(irp->UserBuffer, &item, sizeof item);
        return Answer(irp, STATUS_SUCCESS, 16);
    }
    default: return Answer(irp, STATUS_NOT_FOUND, 0);
    }
}

NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    if (code == kSizeAnsweringControlCode) return Answer(irp, STATUS_BUFFER_OVERFLOW, 16);
    const void* input = sp->Parameters.DeviceIoControl.Type3InputBuffer;
    if (code == IOCTL_KS_PROPERTY && input && sp->Parameters.DeviceIoControl.InputBufferLength >= sizeof(KSPROPERTY)) {
        KSPROPERTY request;
        memcpy(&request, input, sizeof request);
        if (memcmp(&request.Set, kScriptedPropertySet, sizeof(GUID)) == 0) return AnswerScripted(irp, request);
    }
    return g_classDispatch(device, irp);
}

NTSTATUS FakeDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    NTSTATUS status = KsInitializeDriver(driver, registryPath, &ThePublished().device);
    if (!NT_SUCCESS(status)) return status;
    g_classDispatch = driver->MajorFunction[IRP_MJ_DEVICE_CONTROL];
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    return status;
}

}  // namespace

void SetFakeFilterScenario(const FakeFilterScenario& scenario)
{
    Published& p = ThePublished();
    p.pins.clear();
    for (const FakePin& pin : scenario.pins) {
        KSPIN_DESCRIPTOR_EX descriptor{};
        descriptor.Dispatch = pin.refuseCreate ? &kRefusingDispatch : &kAcceptingDispatch;
        descriptor.PinDescriptor.InterfacesCount = 1;
        descriptor.PinDescriptor.Interfaces =
            pin.interfaces == FakeInterfaces::Standard ? &kStandardInterface : &kLoopedInterface;
        descriptor.PinDescriptor.MediumsCount = 1;
        descriptor.PinDescriptor.Mediums = &kStandardMedium;
        switch (pin.ranges) {
        case FakeRanges::Pcm:
            descriptor.PinDescriptor.DataRangesCount = 1;
            descriptor.PinDescriptor.DataRanges = kPcmRanges;
            break;
        case FakeRanges::PcmThenFloat:
            descriptor.PinDescriptor.DataRangesCount = 2;
            descriptor.PinDescriptor.DataRanges = kPcmThenFloatRanges;
            break;
        case FakeRanges::Midi:
            descriptor.PinDescriptor.DataRangesCount = 1;
            descriptor.PinDescriptor.DataRanges = kMidiRanges;
            break;
        case FakeRanges::None: break;
        }
        descriptor.PinDescriptor.Category = &KSNODETYPE_DAC;
        descriptor.PinDescriptor.Name = &kFakePinName;
        descriptor.PinDescriptor.DataFlow = KSPIN_DATAFLOW(pin.dataFlow);
        descriptor.PinDescriptor.Communication = KSPIN_COMMUNICATION(pin.communication);
        descriptor.InstancesPossible = 1;
        p.pins.push_back(descriptor);
    }
    p.filter = KSFILTER_DESCRIPTOR{};
    p.filter.AutomationTable = scenario.failPinCount ? &kFailingPinCountTable : nullptr;
    p.filter.Version = KSFILTER_DESCRIPTOR_VERSION;
    p.filter.ReferenceGuid = &kFilterReference;
    p.filter.PinDescriptorsCount = ULONG(p.pins.size());
    p.filter.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    p.filter.PinDescriptors = p.pins.data();
    p.filter.CategoriesCount = scenario.audioCategoryTwice ? 2 : 1;
    p.filter.Categories = kAudioTwice;
    p.device = KSDEVICE_DESCRIPTOR{};
    p.device.FilterDescriptorsCount = 1;
    p.device.FilterDescriptors = p.filters;
}

void* DriverEntryOfFakeFilter() { return reinterpret_cast<void*>(&FakeDriverEntry); }

void WaitForPendingRequests(size_t count)
{
    PendingRequests& p = ThePending();
    std::unique_lock lock(p.mutex);
    p.changed.wait(lock, [&] { return p.irps.size() >= count; });
}

void CompletePendingRequests(int32_t status, uint32_t value)
{
    std::list<PIRP> irps;
    {
        PendingRequests& p = ThePending();
        std::lock_guard lock(p.mutex);
        irps.swap(p.irps);
    }
    for (PIRP irp : irps) {
        // One being cancelled right now belongs to the cancel routine.
        if (!IoSetCancelRoutine(irp, nullptr)) continue;
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
        irp->IoStatus.Information = 0;
        if (NT_SUCCESS(status) && irp->UserBuffer && sp->Parameters.DeviceIoControl.OutputBufferLength >= sizeof value) {
            memcpy(irp->UserBuffer, &value, sizeof value);
            irp->IoStatus.Information = sizeof value;
        }
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

}  // namespace umtest
