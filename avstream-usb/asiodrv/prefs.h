// The driver's settings: what the per-user registry key holds, plus the
// buffer length, which the kernel driver keeps as its UrbSize.
#pragma once

#include "asiointerface.h"

// Laid out as one block: updatePrefs copies it whole.
struct Prefs {
    LONG bufferSwitchDirect = 1;  // passed as directProcess of every buffer switch
    LONG numKsPackets = 2;        // stream requests in flight each way
    ULONG sampleFormat = 1;       // row of kSampleFormats
    LONG sampleRate = 48000;      // Hz
    LONG bufferLength = 10;       // ms; the kernel driver's UrbSize, not stored here
    CHAR filterPath[MAX_PATH] = {};  // device path of the preferred filter
};

struct SampleFormat {
    ASIOSampleType type;
    WORD containerBits;  // in the host's buffers
    WORD pinBits;        // on the pins
};

constexpr SampleFormat kSampleFormats[] = {
    {ASIOSTInt16LSB, 16, 16},
    {ASIOSTInt24LSB, 24, 24},
    {ASIOSTInt24LSB, 24, 24},
};
constexpr ULONG kDefaultSampleFormat = 1;

constexpr LONG kSampleRates[] = {44100, 48000};

// The packet ring needs at least one packet; more than this only adds
// latency and memory, so a stored value outside the range is clamped.
constexpr LONG kMinKsPackets = 1;
constexpr LONG kMaxKsPackets = 16;

// HKEY_CURRENT_USER sub-key of the settings.
constexpr const char kPrefsKey[] = "software\\marvolan\\mrvusbaudio";

// Reads the stored settings over prefs (a value of the wrong type keeps its
// default) and turns the driver's trace on or off. False, with prefs
// untouched, when the key cannot be opened.
bool loadPrefs(Prefs& prefs);
// Stores the sample format, sample rate and filter path.
bool savePrefs(const Prefs& prefs);
