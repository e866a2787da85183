// The requests a client builds to open pins: a connection and a format.
#pragma once

#include "devicesettings.h"

#include <ks.h>
#include <ksmedia.h>

// A KSDATAFORMAT_WAVEFORMATEX (or its extensible form) for a pin create.
struct WaveFormat {
    KSDATAFORMAT format;
    WAVEFORMATEXTENSIBLE wave;
};

inline WaveFormat PcmFormat(ULONG rate, USHORT bits, USHORT channels, bool extensible = false)
{
    WaveFormat f{};
    f.format.FormatSize = sizeof(KSDATAFORMAT) + (extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX));
    f.format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    f.format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    f.format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    f.format.SampleSize = ULONG(channels * bits / 8);
    WAVEFORMATEX& w = f.wave.Format;
    w.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
    w.nChannels = channels;
    w.nSamplesPerSec = rate;
    w.wBitsPerSample = bits;
    w.nBlockAlign = USHORT(channels * bits / 8);
    w.nAvgBytesPerSec = rate * w.nBlockAlign;
    w.cbSize = extensible ? 22 : 0;
    if (extensible) {
        f.wave.Samples.wValidBitsPerSample = bits;
        f.wave.dwChannelMask = channels == 2 ? 3 : 0;
        f.wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    }
    return f;
}

// The MIDI pins' format, or the driver's hidden MIDI format.
inline KSDATAFORMAT MidiFormat(bool hidden = false)
{
    KSDATAFORMAT format{};
    format.FormatSize = sizeof(format);
    format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    format.SubFormat = hidden ? KSDATAFORMAT_SUBTYPE_HiddenMidi : KSDATAFORMAT_SUBTYPE_MIDI;
    format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    return format;
}

inline KSPIN_CONNECT PinConnect(ULONG pinId)
{
    KSPIN_CONNECT connect{};
    connect.Interface.Set = KSINTERFACESETID_Standard;
    connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect.Medium.Set = KSMEDIUMSETID_Standard;
    connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect.PinId = pinId;
    connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect.Priority.PrioritySubClass = 1;
    return connect;
}
