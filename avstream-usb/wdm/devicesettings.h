// The driver's private kernel-streaming identifiers, shared with its clients.
#pragma once

#include <ntddk.h>
#include <windef.h>
#include <ks.h>

// Property set of the device settings; property 0 is UrbSize (ULONG).
#define STATIC_KSPROPSETID_DeviceSettings 0xB2F684AA, 0xC237, 0x40F0, 0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDA
DEFINE_GUIDSTRUCT("B2F684AA-C237-40F0-AF6A-38DF8B7CD2DA", KSPROPSETID_DeviceSettings);
// Event set signalled with the new value whenever a setting changes.
#define STATIC_KSEVENTSETID_DeviceSettings 0xB2F684AA, 0xC237, 0x40F0, 0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDB
DEFINE_GUIDSTRUCT("B2F684AA-C237-40F0-AF6A-38DF8B7CD2DB", KSEVENTSETID_DeviceSettings);
// MIDI pins of this subtype stay out of the system's MIDI port list.
#define STATIC_KSDATAFORMAT_SUBTYPE_HiddenMidi 0x39D30B88, 0x6CFE, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00
DEFINE_GUIDSTRUCT("39D30B88-6CFE-11CF-A5D6-28DB04C10000", KSDATAFORMAT_SUBTYPE_HiddenMidi);

constexpr ULONG KSPROPERTY_DEVICESETTINGS_URBSIZE = 0;
constexpr ULONG KSEVENT_DEVICESETTINGS_CHANGED = 1;
