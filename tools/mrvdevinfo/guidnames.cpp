#include "guidnames.h"

#include "devicesettings.h"

#include <ks.h>
#include <ksmedia.h>

#include <cstdio>
#include <utility>

std::string GuidString(const GUID& g)
{
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return text;
}

std::string GuidName(const GUID& guid)
{
    static const std::pair<const GUID*, const char*> kNames[] = {
        {&KSCATEGORY_AUDIO, "KSCATEGORY_AUDIO"},
        {&KSCATEGORY_RENDER, "KSCATEGORY_RENDER"},
        {&KSCATEGORY_CAPTURE, "KSCATEGORY_CAPTURE"},
        {&KSCATEGORY_WDMAUD_USE_PIN_NAME, "KSCATEGORY_WDMAUD_USE_PIN_NAME"},
        {&KSNODETYPE_LINE_CONNECTOR, "KSNODETYPE_LINE_CONNECTOR"},
        {&KSNODETYPE_DAC, "KSNODETYPE_DAC"},
        {&KSNODETYPE_ADC, "KSNODETYPE_ADC"},
        {&KSAUDFNAME_MIDI, "KSAUDFNAME_MIDI"},
        {&KSDATAFORMAT_TYPE_AUDIO, "KSDATAFORMAT_TYPE_AUDIO"},
        {&KSDATAFORMAT_TYPE_MUSIC, "KSDATAFORMAT_TYPE_MUSIC"},
        {&KSDATAFORMAT_SUBTYPE_PCM, "KSDATAFORMAT_SUBTYPE_PCM"},
        {&KSDATAFORMAT_SUBTYPE_ANALOG, "KSDATAFORMAT_SUBTYPE_ANALOG"},
        {&KSDATAFORMAT_SUBTYPE_MIDI, "KSDATAFORMAT_SUBTYPE_MIDI"},
        {&KSDATAFORMAT_SUBTYPE_MIDI_BUS, "KSDATAFORMAT_SUBTYPE_MIDI_BUS"},
        {&KSDATAFORMAT_SUBTYPE_HiddenMidi, "KSDATAFORMAT_SUBTYPE_HiddenMidi"},
        {&KSDATAFORMAT_SPECIFIER_WAVEFORMATEX, "KSDATAFORMAT_SPECIFIER_WAVEFORMATEX"},
        {&KSDATAFORMAT_SPECIFIER_DSOUND, "KSDATAFORMAT_SPECIFIER_DSOUND"},
        {&KSDATAFORMAT_SPECIFIER_NONE, "KSDATAFORMAT_SPECIFIER_NONE"},
        {&KSPROPSETID_Pin, "KSPROPSETID_Pin"},
        {&KSPROPSETID_DeviceSettings, "KSPROPSETID_DeviceSettings"},
        {&KSEVENTSETID_DeviceSettings, "KSEVENTSETID_DeviceSettings"},
    };
    for (const auto& [known, name] : kNames)
        if (IsEqualGUID(*known, guid)) return name;
    return GuidString(guid);
}
