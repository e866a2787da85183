// The test minidriver's tables and callbacks.
#include "testminidriver.h"

#include <cstring>

namespace kstest {

extern const KSFILTER_DESCRIPTOR kFilterDescriptor;
extern KSAUTOMATION_TABLE g_filterTable;

namespace {

MinidriverState g_state;

void Log(std::string line) { g_state.log.push_back(std::move(line)); }

// ---- Device --------------------------------------------------------------------

struct DeviceContext {
    ULONG magic;
};

void FreeDeviceContext(PVOID context)
{
    Log("FreeContext");
    ExFreePoolWithTag(context, kContextTag);
}

NTSTATUS Add(PKSDEVICE device)
{
    Log("Add");
    g_state.device = device;
    if (!NT_SUCCESS(g_state.addStatus)) return g_state.addStatus;
    auto* context = static_cast<DeviceContext*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(DeviceContext), kContextTag));
    if (!context) return STATUS_INSUFFICIENT_RESOURCES;
    context->magic = 0x1234;
    NTSTATUS status = KsAddItemToObjectBag(device->Bag, context, FreeDeviceContext);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(context, kContextTag);
        return status;
    }
    device->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS PostStart(PKSDEVICE device)
{
    Log("PostStart");
    if (!NT_SUCCESS(g_state.postStartStatus)) return g_state.postStartStatus;
    if (!g_state.createFactory) return STATUS_SUCCESS;
    g_filterTable.PropertySetsCount = g_state.pinNameHandled ? 2 : 1;
    KsAcquireDevice(device);
    WCHAR referenceString[] = u"GLOBAL";
    NTSTATUS status = KsCreateFilterFactory(device->FunctionalDeviceObject, &kFilterDescriptor, referenceString, nullptr,
                                            0, nullptr, nullptr, &g_state.factory);
    KsReleaseDevice(device);
    return status;
}

void Remove(PKSDEVICE, PIRP irp)
{
    Log(irp ? "Remove" : "Remove without IRP");
}

NTSTATUS QueryCapabilities(PKSDEVICE, PIRP, PDEVICE_CAPABILITIES capabilities)
{
    Log("QueryCapabilities");
    capabilities->SurpriseRemovalOK = 1;
    return STATUS_SUCCESS;
}

void SetPower(PKSDEVICE, PIRP, DEVICE_POWER_STATE to, DEVICE_POWER_STATE from)
{
    Log("SetPower " + std::to_string(int(to)) + "<-" + std::to_string(int(from)));
}

const KSDEVICE_DISPATCH kDeviceDispatch = {
    .Add = Add,
    .Start = nullptr,
    .PostStart = PostStart,
    .QueryStop = nullptr,
    .CancelStop = nullptr,
    .Stop = nullptr,
    .QueryRemove = nullptr,
    .CancelRemove = nullptr,
    .Remove = Remove,
    .QueryCapabilities = QueryCapabilities,
    .SurpriseRemoval = nullptr,
    .QueryPower = nullptr,
    .SetPower = SetPower,
    .QueryInterface = nullptr,
};

const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {&kDeviceDispatch, 0, nullptr, 0};

// ---- Pins -------------------------------------------------------------------------

NTSTATUS PinCreate(PKSPIN pin, PIRP irp)
{
    Log("PinCreate " + std::to_string(pin->Id) + (KsGetPinFromIrp(irp) == pin ? "" : " (pin not from IRP)"));
    if (g_state.onPinCreate) g_state.onPinCreate(pin);
    return g_state.pinCreateStatus;
}

NTSTATUS PinClose(PKSPIN pin, PIRP irp)
{
    Log("PinClose " + std::to_string(pin->Id) + (irp ? "" : " without IRP"));
    return STATUS_SUCCESS;
}

NTSTATUS PinSetDataFormat(PKSPIN pin, PKSDATAFORMAT oldFormat, PKSMULTIPLE_ITEM, const KSDATARANGE* range,
                          const KSATTRIBUTE_LIST*)
{
    const auto* audio = reinterpret_cast<const KSDATARANGE_AUDIO*>(range);
    Log("SetDataFormat " + std::to_string(pin->Id) + (oldFormat ? " old" : "") + " range " +
        std::to_string(audio->MinimumSampleFrequency));
    return STATUS_SUCCESS;
}

NTSTATUS PinSetDeviceState(PKSPIN pin, KSSTATE to, KSSTATE from)
{
    Log("State " + std::to_string(pin->Id) + " " + std::to_string(int(from)) + "->" + std::to_string(int(to)));
    return int(to) == g_state.failStateStepTo ? STATUS_INSUFFICIENT_RESOURCES : STATUS_SUCCESS;
}

// Takes up to renderBytesPerProcess bytes of the leading frame.
NTSTATUS RenderProcess(PKSPIN pin)
{
    ++g_state.processCalls;
    PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (!pointer) return STATUS_PENDING;
    ULONG n = pointer->Offset->Remaining < g_state.renderBytesPerProcess ? pointer->Offset->Remaining
                                                                           : g_state.renderBytesPerProcess;
    auto* data = static_cast<const uint8_t*>(pointer->Offset->Data);
    g_state.rendered.insert(g_state.rendered.end(), data, data + n);
    if (g_state.renderFrameStatus != STATUS_SUCCESS) KsStreamPointerSetStatusCode(pointer, g_state.renderFrameStatus);
    KsStreamPointerAdvanceOffsetsAndUnlock(pointer, n, 0, FALSE);
    return STATUS_PENDING;
}

// Takes every queued frame whole.
NTSTATUS MidiProcess(PKSPIN pin)
{
    ++g_state.processCalls;
    while (PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED)) {
        auto* data = static_cast<const uint8_t*>(pointer->Offset->Data);
        g_state.midiReceived.insert(g_state.midiReceived.end(), data, data + pointer->Offset->Remaining);
        KsStreamPointerAdvanceOffsetsAndUnlock(pointer, pointer->Offset->Remaining, 0, FALSE);
    }
    return STATUS_PENDING;
}

// Fills one frame per call while captureFrames lasts, and ejects it.
NTSTATUS CaptureProcess(PKSPIN pin)
{
    ++g_state.processCalls;
    if (g_state.captureFrames == 0) return STATUS_PENDING;
    PKSSTREAM_POINTER pointer = KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (!pointer) return STATUS_PENDING;
    ULONG n = pointer->Offset->Remaining < g_state.captureBytes ? pointer->Offset->Remaining : g_state.captureBytes;
    memset(pointer->Offset->Data, g_state.captureByte, n);
    --g_state.captureFrames;
    KsStreamPointerAdvanceOffsetsAndUnlock(pointer, 0, n, TRUE);
    return g_state.captureFrames ? STATUS_SUCCESS : STATUS_PENDING;
}

const KSPIN_DISPATCH kRenderDispatch = {PinCreate, PinClose, RenderProcess, nullptr, PinSetDataFormat,
                                        PinSetDeviceState, nullptr, nullptr, nullptr, nullptr};
const KSPIN_DISPATCH kMidiDispatch = {PinCreate, PinClose, MidiProcess, nullptr, nullptr,
                                      PinSetDeviceState, nullptr, nullptr, nullptr, nullptr};
const KSPIN_DISPATCH kCaptureDispatch = {PinCreate, PinClose, CaptureProcess, nullptr, PinSetDataFormat,
                                         PinSetDeviceState, nullptr, nullptr, nullptr, nullptr};

KSDATARANGE_AUDIO AudioRange(ULONG rate)
{
    KSDATARANGE_AUDIO range{};
    range.DataRange = DataFormat(sizeof(range), KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM,
                                 KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
    range.MaximumChannels = 2;
    range.MinimumBitsPerSample = 16;
    range.MaximumBitsPerSample = 24;
    range.MinimumSampleFrequency = rate;
    range.MaximumSampleFrequency = rate;
    return range;
}

KSDATARANGE_AUDIO g_range44 = AudioRange(44100);
KSDATARANGE_AUDIO g_range48 = AudioRange(48000);
const PKSDATARANGE kRenderRanges[] = {&g_range44.DataRange, &g_range48.DataRange};

KSDATARANGE_AUDIO BridgeRange()
{
    KSDATARANGE_AUDIO range{};
    range.DataRange =
        DataFormat(sizeof(range), KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_ANALOG, KSDATAFORMAT_SPECIFIER_NONE);
    return range;
}
KSDATARANGE_AUDIO g_bridgeRange = BridgeRange();
const PKSDATARANGE kBridgeRanges[] = {&g_bridgeRange.DataRange};

KSDATARANGE_MUSIC MidiRange()
{
    KSDATARANGE_MUSIC range{};
    range.DataRange =
        DataFormat(sizeof(range), KSDATAFORMAT_TYPE_MUSIC, KSDATAFORMAT_SUBTYPE_MIDI, KSDATAFORMAT_SPECIFIER_NONE);
    range.Technology = KSMUSIC_TECHNOLOGY_PORT;
    range.ChannelMask = 0xFFFF;
    return range;
}
KSDATARANGE_MUSIC g_midiRange = MidiRange();
const PKSDATARANGE kMidiRanges[] = {&g_midiRange.DataRange};

// Render pin: a position property, as audio pins have.
KSAUDIO_POSITION g_position{};

NTSTATUS PositionHandler(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    auto* position = static_cast<PKSAUDIO_POSITION>(data);
    if (request->Flags & KSPROPERTY_TYPE_SET) {
        g_position = *position;
        irp->IoStatus.Information = 0;
    } else {
        *position = g_position;
        irp->IoStatus.Information = sizeof(*position);
    }
    return STATUS_SUCCESS;
}

const KSPROPERTY_ITEM kPositionItems[] = {
    {KSPROPERTY_AUDIO_POSITION, {PositionHandler}, sizeof(KSPROPERTY), sizeof(KSAUDIO_POSITION), {PositionHandler},
     nullptr, 0, nullptr, nullptr, 0},
};
const KSPROPERTY_SET kRenderPropertySets[] = {{&KSPROPSETID_Audio, 1, kPositionItems, 0, nullptr}};
const KSAUTOMATION_TABLE kRenderTable = {1, sizeof(KSPROPERTY_ITEM), kRenderPropertySets, 0, sizeof(KSMETHOD_ITEM),
                                         nullptr, 0, sizeof(KSEVENT_ITEM), nullptr};

KSPIN_DESCRIPTOR_EX PinDescriptor(const KSPIN_DISPATCH* dispatch, const KSAUTOMATION_TABLE* table, ULONG rangeCount,
                                  const PKSDATARANGE* ranges, KSPIN_DATAFLOW flow, KSPIN_COMMUNICATION communication,
                                  const GUID* category, const GUID* name, ULONG instances, ULONG flags = 0)
{
    KSPIN_DESCRIPTOR_EX pin{};
    pin.Flags = flags;
    pin.Dispatch = dispatch;
    pin.AutomationTable = table;
    pin.PinDescriptor.DataRangesCount = rangeCount;
    pin.PinDescriptor.DataRanges = ranges;
    pin.PinDescriptor.DataFlow = flow;
    pin.PinDescriptor.Communication = communication;
    pin.PinDescriptor.Category = category;
    pin.PinDescriptor.Name = name;
    pin.InstancesPossible = instances;
    return pin;
}

const KSPIN_DESCRIPTOR_EX kPins[kPinCount] = {
    PinDescriptor(&kRenderDispatch, &kRenderTable, 2, kRenderRanges, KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK,
                  &KSCATEGORY_AUDIO, &KSCATEGORY_RENDER, 1,
                  KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING | KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY),
    PinDescriptor(nullptr, nullptr, 1, kBridgeRanges, KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_NONE,
                  &KSNODETYPE_LINE_CONNECTOR, &KSNODETYPE_LINE_CONNECTOR, 1),
    PinDescriptor(&kMidiDispatch, nullptr, 1, kMidiRanges, KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK,
                  &KSCATEGORY_WDMAUD_USE_PIN_NAME, &KSAUDFNAME_MIDI, KSINSTANCE_INDETERMINATE),
    PinDescriptor(&kCaptureDispatch, nullptr, 2, kRenderRanges, KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK,
                  &KSCATEGORY_AUDIO, &KSCATEGORY_CAPTURE, 1, KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING),
};

// ---- Filter -------------------------------------------------------------------------

NTSTATUS TestValueHandler(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    if (!data) return STATUS_INVALID_PARAMETER;
    if (request->Flags & KSPROPERTY_TYPE_SET) {
        g_state.testValue = *static_cast<PULONG>(data);
        irp->IoStatus.Information = 0;
    } else {
        *static_cast<PULONG>(data) = g_state.testValue;
        irp->IoStatus.Information = sizeof(ULONG);
    }
    return STATUS_SUCCESS;
}

// Answers with a fixed name, two characters and the zero.
NTSTATUS PinNameHandler(PIRP irp, PKSIDENTIFIER, PVOID data)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    static const WCHAR kName[] = u"P1";
    irp->IoStatus.Information = sizeof(kName);
    if (sp->Parameters.DeviceIoControl.OutputBufferLength < sizeof(kName)) return STATUS_BUFFER_OVERFLOW;
    memcpy(data, kName, sizeof(kName));
    return STATUS_SUCCESS;
}

const KSPROPERTY_ITEM kTestItems[] = {
    {kTestValueProperty, {TestValueHandler}, sizeof(KSPROPERTY), sizeof(ULONG), {TestValueHandler}, nullptr, 0,
     nullptr, nullptr, 0},
};
const KSPROPERTY_ITEM kPinNameItems[] = {
    {KSPROPERTY_PIN_NAME, {PinNameHandler}, sizeof(KSP_PIN), 0, {nullptr}, nullptr, 0, nullptr, nullptr, 0},
};
const KSPROPERTY_SET kFilterPropertySets[] = {
    {&KSPROPSETID_Test, 1, kTestItems, 0, nullptr},
    {&KSPROPSETID_Pin, 1, kPinNameItems, 0, nullptr},
};
const KSEVENT_ITEM kTestEvents[] = {
    {kTestEvent, sizeof(KSEVENTDATA), 0, nullptr, nullptr, nullptr},
};
const KSEVENT_SET kFilterEventSets[] = {{&KSEVENTSETID_Test, 1, kTestEvents}};


const GUID kCategories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER, KSCATEGORY_CAPTURE};
const KSNODE_DESCRIPTOR kNodes[] = {{nullptr, &KSNODETYPE_DAC, nullptr}};
const KSTOPOLOGY_CONNECTION kConnections[] = {
    {KSFILTER_NODE, kRenderPin, 0, 1},
    {0, 0, KSFILTER_NODE, kBridgePin},
};

}  // namespace

// The pin-name set sits second: a count of 1 leaves it to the class driver.
KSAUTOMATION_TABLE g_filterTable = {2,       sizeof(KSPROPERTY_ITEM), kFilterPropertySets, 0, sizeof(KSMETHOD_ITEM),
                                    nullptr, 1,                       sizeof(KSEVENT_ITEM), kFilterEventSets};

const KSFILTER_DESCRIPTOR kFilterDescriptor = {
    .Dispatch = nullptr,
    .AutomationTable = &g_filterTable,
    .Version = KSFILTER_DESCRIPTOR_VERSION,
    .Flags = 0,
    .ReferenceGuid = nullptr,
    .PinDescriptorsCount = kPinCount,
    .PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX),
    .PinDescriptors = kPins,
    .CategoriesCount = 3,
    .Categories = kCategories,
    .NodeDescriptorsCount = 1,
    .NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR),
    .NodeDescriptors = kNodes,
    .ConnectionsCount = 2,
    .Connections = kConnections,
    .ComponentId = nullptr,
};

MinidriverState& State() { return g_state; }

void ResetState()
{
    g_state = MinidriverState{};
    g_position = KSAUDIO_POSITION{};
    g_filterTable.PropertySetsCount = 1;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath)
{
    Log("DriverEntry");
    return KsInitializeDriver(driverObject, registryPath, &kDeviceDescriptor);
}

KSDATAFORMAT DataFormat(ULONG size, const GUID& major, const GUID& sub, const GUID& specifier)
{
    KSDATAFORMAT format{};
    format.FormatSize = size;
    format.MajorFormat = major;
    format.SubFormat = sub;
    format.Specifier = specifier;
    return format;
}

KSDATAFORMAT_WAVEFORMATEX WaveFormat(USHORT channels, USHORT bits, ULONG rate)
{
    KSDATAFORMAT_WAVEFORMATEX format{};
    format.DataFormat = DataFormat(sizeof(format), KSDATAFORMAT_TYPE_AUDIO, KSDATAFORMAT_SUBTYPE_PCM,
                                   KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
    format.WaveFormatEx.wFormatTag = WAVE_FORMAT_PCM;
    format.WaveFormatEx.nChannels = channels;
    format.WaveFormatEx.wBitsPerSample = bits;
    format.WaveFormatEx.nSamplesPerSec = rate;
    format.WaveFormatEx.nBlockAlign = USHORT(channels * bits / 8);
    format.WaveFormatEx.nAvgBytesPerSec = rate * format.WaveFormatEx.nBlockAlign;
    return format;
}

KSPIN_CONNECT StandardConnect(ULONG pinId)
{
    KSPIN_CONNECT connect{};
    connect.Interface.Set = KSINTERFACESETID_Standard;
    connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect.Medium.Set = KSMEDIUMSETID_Standard;
    connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect.PinId = pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    return connect;
}

}  // namespace kstest
