// Wave formats the client tests ask for.
#pragma once

#include <ksmedia.h>

#include <cstring>

inline WAVEFORMATEXTENSIBLE ExtensiblePcm(WORD channels, WORD bits, DWORD rate)
{
    WAVEFORMATEXTENSIBLE format;
    memset(&format, 0, sizeof format);
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = rate;
    format.Format.wBitsPerSample = bits;
    format.Format.nBlockAlign = WORD(channels * bits / 8);
    format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = bits;
    format.dwChannelMask = channels == 2 ? KSAUDIO_SPEAKER_STEREO : 0;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    return format;
}

inline WAVEFORMATEX PlainPcm(WORD channels, WORD bits, DWORD rate)
{
    WAVEFORMATEX format = ExtensiblePcm(channels, bits, rate).Format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.cbSize = 0;
    return format;
}
