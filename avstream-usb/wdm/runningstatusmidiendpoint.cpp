// Running-status output: each pending span is one three-byte channel
// message; the status byte is sent only when it changes.
#include "midiendpointvariants.h"

namespace {
bool IsSupportedStatus(UCHAR s)
{
    return s == 0x80 || s == 0x90 || s == 0x92 || s == 0xB0;
}
constexpr ULONG kMessageBytes = 3;
}  // namespace

void RunningStatusMidiEndpoint::PumpOutput()
{
    if (DirectionBit() == 1) return;
    ExAcquireFastMutex(&m_pumpMutex);
    MidiPort* port = m_ports[0];
    const UCHAR* data = nullptr;
    const ULONG length = port ? port->PeekPending(&data) : 0;
    if (length == 0 || !data) {
        ExReleaseFastMutex(&m_pumpMutex);
        return;
    }

    const UCHAR status = data[0];
    // Only complete messages of the statuses the device knows are sent; a
    // shorter span would read past the client's bytes.
    if (!IsSupportedStatus(status) || length < kMessageBytes) {
        port->ConsumePending(length);
        ExReleaseFastMutex(&m_pumpMutex);
        return;
    }

    const bool same = status == m_lastStatus;
    const ULONG n = same ? kMessageBytes - 1 : kMessageBytes;
    const ULONG other = 1 - m_currentOut;
    bool merge = m_fill[other] > 0 && n <= m_packetSize - m_fill[other];
    if (merge) {
        IoCancelIrp(m_irps[other]);
        // Wait for the cancelled transfer to finish: only a packet that
        // completed as cancelled still holds unsent bytes; one the device
        // already took has fill 0 and must not be sent again.
        if (!WaitBufferFree(other)) merge = false;
    }
    if (!WaitBufferFree(m_currentOut)) {
        ExReleaseFastMutex(&m_pumpMutex);
        return;
    }

    PUCHAR packet = m_buffers[m_currentOut];
    ULONG fill = 0;
    if (merge && m_fill[other] > 0 && m_fill[other] + n <= m_packetSize) {
        RtlCopyMemory(packet, m_buffers[other], m_fill[other]);
        fill = m_fill[other];
        m_fill[other] = 0;
    }
    if (n > m_packetSize - fill) {
        // The packet cannot hold the message: drop it rather than overrun.
        port->ConsumePending(length);
        ExReleaseFastMutex(&m_pumpMutex);
        return;
    }
    if (!same) {
        m_lastStatus = status;
        packet[fill++] = status;
    }
    packet[fill++] = data[1];
    packet[fill++] = data[2];
    port->ConsumePending(length);
    m_fill[m_currentOut] = fill;

    SubmitTransfer(m_currentOut, fill, packet);
    m_currentOut = other;
    ExReleaseFastMutex(&m_pumpMutex);
}
