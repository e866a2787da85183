// Constant tables the filter descriptor copies from: pin templates, data
// ranges, categories and automation tables.
#pragma once

#include <ntddk.h>
#include <windef.h>
#include <ks.h>
#include <ksmedia.h>

// The sample rates every audio pin offers; a stream must carry each of them.
constexpr ULONG kOfferedSampleRates[] = {44100, 48000};
constexpr ULONG kOfferedSampleRateCount = sizeof(kOfferedSampleRates) / sizeof(kOfferedSampleRates[0]);

extern const KSDATARANGE_AUDIO kAudioRanges[4];
extern const KSPIN_DESCRIPTOR_EX kAudioStreamingPin;
extern const KSPIN_DESCRIPTOR_EX kAudioBridgePin;
extern const KSPIN_DESCRIPTOR_EX kMidiStreamingPin;
extern const KSPIN_DESCRIPTOR_EX kMidiBridgePin;
extern const PKSDATARANGE kVisibleMidiRanges[1];
extern const PKSDATARANGE kHiddenMidiRanges[1];
extern const GUID kFilterCategories[3];
// The filter's table: the pin-name set, then the device-settings set (shown
// once the filter has an audio pin pair), and the settings event set.
extern const KSAUTOMATION_TABLE kFilterAutomation;
