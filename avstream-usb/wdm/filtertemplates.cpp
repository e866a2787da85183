#include "filtertemplates.h"

#include "audiopin.h"
#include "devicesettings.h"
#include "filterproperties.h"
#include "usbmidipin.h"

namespace {

constexpr KSDATARANGE_AUDIO AudioRange(const GUID& specifier, ULONG rate)
{
    KSDATARANGE_AUDIO range{};
    range.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    range.DataRange.MajorFormat = {STATICGUIDOF(KSDATAFORMAT_TYPE_AUDIO)};
    range.DataRange.SubFormat = {STATICGUIDOF(KSDATAFORMAT_SUBTYPE_PCM)};
    range.DataRange.Specifier = specifier;
    range.MaximumChannels = 2;
    range.MinimumBitsPerSample = 16;
    range.MaximumBitsPerSample = 24;
    range.MinimumSampleFrequency = rate;
    range.MaximumSampleFrequency = rate;
    return range;
}

constexpr KSDATARANGE_AUDIO kAnalogBridgeRange = [] {
    KSDATARANGE_AUDIO range{};
    range.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    range.DataRange.MajorFormat = {STATICGUIDOF(KSDATAFORMAT_TYPE_AUDIO)};
    range.DataRange.SubFormat = {STATICGUIDOF(KSDATAFORMAT_SUBTYPE_ANALOG)};
    range.DataRange.Specifier = {STATICGUIDOF(KSDATAFORMAT_SPECIFIER_NONE)};
    return range;
}();

constexpr KSDATARANGE_MUSIC MidiRange(const GUID& subFormat)
{
    KSDATARANGE_MUSIC range{};
    range.DataRange.FormatSize = sizeof(KSDATARANGE_MUSIC);
    range.DataRange.MajorFormat = {STATICGUIDOF(KSDATAFORMAT_TYPE_MUSIC)};
    range.DataRange.SubFormat = subFormat;
    range.DataRange.Specifier = {STATICGUIDOF(KSDATAFORMAT_SPECIFIER_NONE)};
    range.Technology = {STATICGUIDOF(KSMUSIC_TECHNOLOGY_PORT)};
    range.ChannelMask = 0x0000FFFF;
    return range;
}

constexpr KSDATARANGE_MUSIC kVisibleMidiRange = MidiRange({STATICGUIDOF(KSDATAFORMAT_SUBTYPE_MIDI)});
constexpr KSDATARANGE_MUSIC kHiddenMidiRange = MidiRange({STATICGUIDOF(KSDATAFORMAT_SUBTYPE_HiddenMidi)});

constexpr KSDATARANGE kMidiBusRange = [] {
    KSDATARANGE range{};
    range.FormatSize = sizeof(KSDATARANGE);
    range.MajorFormat = {STATICGUIDOF(KSDATAFORMAT_TYPE_MUSIC)};
    range.SubFormat = {STATICGUIDOF(KSDATAFORMAT_SUBTYPE_MIDI_BUS)};
    range.Specifier = {STATICGUIDOF(KSDATAFORMAT_SPECIFIER_NONE)};
    return range;
}();

const PKSDATARANGE kAnalogBridgeRanges[] = {(PKSDATARANGE)&kAnalogBridgeRange};
const PKSDATARANGE kMidiBusRanges[] = {(PKSDATARANGE)&kMidiBusRange};

const KSPROPERTY_ITEM kPinNameItems[] = {{
    .PropertyId = KSPROPERTY_PIN_NAME,
    .GetPropertyHandler = PinNameHandler,
    .MinProperty = sizeof(KSP_PIN),
    .MinData = 0,
}};

const KSPROPERTY_ITEM kDeviceSettingsItems[] = {{
    .PropertyId = KSPROPERTY_DEVICESETTINGS_URBSIZE,
    .GetPropertyHandler = UrbSizeHandler,
    .MinProperty = sizeof(KSPROPERTY),
    .MinData = sizeof(ULONG),
    .SetPropertyHandler = UrbSizeHandler,
}};

const KSPROPERTY_SET kFilterPropertySets[] = {
    {.Set = &KSPROPSETID_Pin, .PropertiesCount = 1, .PropertyItem = kPinNameItems},
    {.Set = &KSPROPSETID_DeviceSettings, .PropertiesCount = 1, .PropertyItem = kDeviceSettingsItems},
};

const KSEVENT_ITEM kDeviceSettingsEvents[] = {{
    .EventId = KSEVENT_DEVICESETTINGS_CHANGED,
    .DataInput = sizeof(KSEVENTDATA),
    .ExtraEntryData = 0,
}};

const KSEVENT_SET kFilterEventSets[] = {
    {.Set = &KSEVENTSETID_DeviceSettings, .EventsCount = 1, .EventItem = kDeviceSettingsEvents},
};

const KSPROPERTY_ITEM kAudioPositionItems[] = {{
    .PropertyId = KSPROPERTY_AUDIO_POSITION,
    .GetPropertyHandler = AudioPinPropertyHandler,
    .MinProperty = sizeof(KSPROPERTY),
    .MinData = sizeof(KSAUDIO_POSITION),
    .SetPropertyHandler = AudioPinPropertyHandler,
}};

const KSPROPERTY_ITEM kAllocatorFramingItems[] = {{
    .PropertyId = KSPROPERTY_CONNECTION_ALLOCATORFRAMING,
    .GetPropertyHandler = AudioPinPropertyHandler,
    .MinProperty = sizeof(KSPROPERTY),
    .MinData = sizeof(KSALLOCATOR_FRAMING),
}};

const KSPROPERTY_SET kAudioPinPropertySets[] = {
    {.Set = &KSPROPSETID_Audio, .PropertiesCount = 1, .PropertyItem = kAudioPositionItems},
    {.Set = &KSPROPSETID_Connection, .PropertiesCount = 1, .PropertyItem = kAllocatorFramingItems},
};

const KSAUTOMATION_TABLE kAudioPinAutomation = {
    .PropertySetsCount = 2,
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kAudioPinPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = sizeof(KSMETHOD_ITEM),
    .MethodSets = nullptr,
    .EventSetsCount = 0,
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = nullptr,
};

// Audio pins process only when their stream's completion attempts them, at
// dispatch level, in RUN.
constexpr ULONG kAudioPinFlags = KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING | KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                                 KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY | KSPIN_FLAG_FIXED_FORMAT;
constexpr ULONG kMidiPinFlags = KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY | KSPIN_FLAG_FIXED_FORMAT;

}  // namespace

const KSDATARANGE_AUDIO kAudioRanges[4] = {
    AudioRange({STATICGUIDOF(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)}, kOfferedSampleRates[0]),
    AudioRange({STATICGUIDOF(KSDATAFORMAT_SPECIFIER_DSOUND)}, kOfferedSampleRates[0]),
    AudioRange({STATICGUIDOF(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)}, kOfferedSampleRates[1]),
    AudioRange({STATICGUIDOF(KSDATAFORMAT_SPECIFIER_DSOUND)}, kOfferedSampleRates[1]),
};

const PKSDATARANGE kVisibleMidiRanges[1] = {(PKSDATARANGE)&kVisibleMidiRange};
const PKSDATARANGE kHiddenMidiRanges[1] = {(PKSDATARANGE)&kHiddenMidiRange};

const GUID kFilterCategories[3] = {
    {STATICGUIDOF(KSCATEGORY_AUDIO)}, {STATICGUIDOF(KSCATEGORY_RENDER)}, {STATICGUIDOF(KSCATEGORY_CAPTURE)}};

const KSAUTOMATION_TABLE kFilterAutomation = {
    .PropertySetsCount = 2,
    .PropertyItemSize = sizeof(KSPROPERTY_ITEM),
    .PropertySets = kFilterPropertySets,
    .MethodSetsCount = 0,
    .MethodItemSize = sizeof(KSMETHOD_ITEM),
    .MethodSets = nullptr,
    .EventSetsCount = 1,
    .EventItemSize = sizeof(KSEVENT_ITEM),
    .EventSets = kFilterEventSets,
};

const KSPIN_DESCRIPTOR_EX kAudioStreamingPin = {
    .Dispatch = &AudioPinDispatch,
    .AutomationTable = &kAudioPinAutomation,
    .PinDescriptor = {
        .DataRangesCount = 4,
        .Communication = KSPIN_COMMUNICATION_SINK,
        .Category = &KSCATEGORY_AUDIO,
    },
    .Flags = kAudioPinFlags,
    .InstancesPossible = 1,
    .InstancesNecessary = 0,
};

const KSPIN_DESCRIPTOR_EX kAudioBridgePin = {
    .PinDescriptor = {
        .DataRangesCount = 1,
        .DataRanges = kAnalogBridgeRanges,
        .Communication = KSPIN_COMMUNICATION_NONE,
        .Category = &KSNODETYPE_LINE_CONNECTOR,
        .Name = &KSNODETYPE_LINE_CONNECTOR,
    },
    .Flags = 0,
    .InstancesPossible = 1,
    .InstancesNecessary = 0,
};

const KSPIN_DESCRIPTOR_EX kMidiStreamingPin = {
    .Dispatch = &MidiPinDispatch,
    .PinDescriptor = {
        .DataRangesCount = 1,
        .Communication = KSPIN_COMMUNICATION_SINK,
        .Category = &KSCATEGORY_WDMAUD_USE_PIN_NAME,
        .Name = &KSAUDFNAME_MIDI,
    },
    .Flags = kMidiPinFlags,
    .InstancesPossible = KSINSTANCE_INDETERMINATE,
    .InstancesNecessary = 0,
};

const KSPIN_DESCRIPTOR_EX kMidiBridgePin = {
    .PinDescriptor = {
        .DataRangesCount = 1,
        .DataRanges = kMidiBusRanges,
        .Communication = KSPIN_COMMUNICATION_NONE,
        .Category = &KSCATEGORY_AUDIO,
        .Name = &KSAUDFNAME_MIDI,
    },
    .Flags = 0,
    .InstancesPossible = KSINSTANCE_INDETERMINATE,
    .InstancesNecessary = 0,
};
