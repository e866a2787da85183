// The kernel driver's private kernel-streaming identifiers, as its clients
// address them: property 0 of the settings set is the buffer length in ms
// (the driver's UrbSize); event 1 of the event set fires when it changes.
#pragma once

#include <windows.h>

inline const GUID KSPROPSETID_DeviceSettings = {
    0xB2F684AA, 0xC237, 0x40F0, {0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDA}};
inline const GUID KSEVENTSETID_DeviceSettings = {
    0xB2F684AA, 0xC237, 0x40F0, {0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDB}};

constexpr ULONG KSPROPERTY_DEVICESETTINGS_URBSIZE = 0;
constexpr ULONG KSEVENT_DEVICESETTINGS_CHANGED = 1;
