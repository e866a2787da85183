// Byte-stream MIDI parser: tracks running status, reports complete channel
// and system messages, and cuts System Exclusive into chunks.
#pragma once

#include <ntddk.h>

// What Feed reports.
enum MidiKind : UCHAR {
    kMidiNothing = 0,
    kMidiChannel = 0x80,
    kMidiSystemCommon = 0xF1,
    kMidiSysExChunk = 0xF0,  // the message continues
    kMidiSysExEnd = 0xF7,    // the chunk ends with 0xF7
    kMidiRealTime = 0xF8,
};

constexpr UCHAR kDefaultSysExChunk = 12;
constexpr UCHAR kClassSysExChunk = 3;

struct MidiMessageView {
    MidiKind kind;
    const UCHAR* bytes;  // valid until the next Feed on the same parser
    ULONG length;
};

class MidiParser {
public:
    explicit MidiParser(UCHAR sysexChunk = kDefaultSysExChunk) { Reset(sysexChunk); }
    void Reset(UCHAR sysexChunk = kDefaultSysExChunk);

    MidiMessageView Feed(UCHAR b);

    // Bytes a message with this status byte has, status included; 0 for the
    // ones that carry none (0xF4, 0xF5, 0xF7).
    static ULONG StatusLength(UCHAR status);

private:
    MidiMessageView Report(MidiKind kind, const UCHAR* bytes, ULONG length);

    UCHAR m_status;
    UCHAR m_data1;
    UCHAR m_data2;
    UCHAR m_inSysEx;
    UCHAR m_sysexCount;
    UCHAR m_sysexChunk;
    UCHAR m_sysexBuffer[kDefaultSysExChunk];
    // The last reported channel or common message (and a real-time byte).
    UCHAR m_message[3];
};
