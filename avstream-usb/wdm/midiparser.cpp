#include "midiparser.h"

namespace {
constexpr UCHAR kEmpty = 0xFF;
}

void MidiParser::Reset(UCHAR sysexChunk)
{
    m_status = 0;
    m_data1 = kEmpty;
    m_data2 = kEmpty;
    m_inSysEx = 0;
    m_sysexCount = 1;
    // A chunk larger than the buffer could never be reported.
    m_sysexChunk = sysexChunk >= 1 && sysexChunk <= kDefaultSysExChunk ? sysexChunk : kDefaultSysExChunk;
    RtlFillMemory(m_sysexBuffer, sizeof(m_sysexBuffer), 0xF7);
    RtlZeroMemory(m_message, sizeof(m_message));
}

ULONG MidiParser::StatusLength(UCHAR status)
{
    if (status < 0x80) return 0;
    if (status < 0xF0) {
        const UCHAR high = status & 0xF0;
        return high == 0xC0 || high == 0xD0 ? 2 : 3;
    }
    switch (status) {
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    case 0xF6: return 1;
    default: return 0;
    }
}

MidiMessageView MidiParser::Report(MidiKind kind, const UCHAR* bytes, ULONG length)
{
    return {kind, bytes, length};
}

MidiMessageView MidiParser::Feed(UCHAR b)
{
    if (b >= 0xF8) {
        // Real time passes through anything in progress.
        m_message[0] = b;
        return Report(kMidiRealTime, m_message, 1);
    }

    if (b >= 0x80) {
        if (m_inSysEx) {
            // Any status byte ends the SysEx; only 0xF7 is the proper end,
            // and no other status byte survives it.
            m_sysexBuffer[m_sysexCount++] = 0xF7;
            m_inSysEx = 0;
            return Report(kMidiSysExEnd, m_sysexBuffer, m_sysexCount);
        }
        if (b == 0xF0) {
            m_sysexBuffer[0] = 0xF0;
            m_sysexCount = 1;
            m_inSysEx = 1;
            return Report(kMidiNothing, nullptr, 0);
        }
        const ULONG length = StatusLength(b);
        if (length == 0) return Report(kMidiNothing, nullptr, 0);
        m_status = b;
        m_data1 = m_data2 = kEmpty;
        if (b >= 0xF0 && length == 1) {
            m_message[0] = b;
            return Report(kMidiSystemCommon, m_message, 1);
        }
        return Report(kMidiNothing, nullptr, 0);
    }

    if (m_inSysEx) {
        m_sysexBuffer[m_sysexCount++] = b;
        if (m_sysexCount >= m_sysexChunk) {
            const ULONG length = m_sysexCount;
            m_sysexCount = 0;
            return Report(kMidiSysExChunk, m_sysexBuffer, length);
        }
        return Report(kMidiNothing, nullptr, 0);
    }
    if (m_status < 0x80) return Report(kMidiNothing, nullptr, 0);

    const MidiKind kind = m_status < 0xF0 ? kMidiChannel : kMidiSystemCommon;
    if (StatusLength(m_status) < 3) {
        m_data1 = b;
        m_data2 = kEmpty;
        m_message[0] = m_status;
        m_message[1] = b;
        return Report(kind, m_message, 2);
    }
    if (m_data1 == kEmpty || m_data2 != kEmpty) {
        m_data1 = b;
        m_data2 = kEmpty;
        return Report(kMidiNothing, nullptr, 0);
    }
    m_data2 = b;
    m_message[0] = m_status;
    m_message[1] = m_data1;
    m_message[2] = m_data2;
    return Report(kind, m_message, 3);
}
