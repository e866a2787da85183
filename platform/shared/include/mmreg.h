// Wave format records (byte-packed, as published), for kernel drivers and
// user-mode clients alike; include after the base types (wdm.h or
// windows.h, which ks.h brings).
#pragma once

#if !defined(_WDMDDK_) && !defined(_WINDOWS_)
#error "mmreg.h needs the base types: include wdm.h or windows.h first"
#endif

#define WAVE_FORMAT_PCM         0x0001
#define WAVE_FORMAT_IEEE_FLOAT  0x0003
#define WAVE_FORMAT_EXTENSIBLE  0xFFFE

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    USHORT wFormatTag;
    USHORT nChannels;
    ULONG nSamplesPerSec;
    ULONG nAvgBytesPerSec;
    USHORT nBlockAlign;  // bytes of one frame: all channels of one sample
    USHORT wBitsPerSample;
    USHORT cbSize;       // bytes of extension after this record
} WAVEFORMATEX, *PWAVEFORMATEX, *LPWAVEFORMATEX;

typedef struct {
    WAVEFORMATEX Format;
    union {
        USHORT wValidBitsPerSample;
        USHORT wSamplesPerBlock;
        USHORT wReserved;
    } Samples;
    ULONG dwChannelMask;
    GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)

#define SPEAKER_FRONT_LEFT    0x1
#define SPEAKER_FRONT_RIGHT   0x2
#define SPEAKER_FRONT_CENTER  0x4
