#include "kspacket.h"

#include <cstring>
#include <new>

namespace {
constexpr DWORD kCompletionTimeoutMs = 2000;
}

KsPacket::KsPacket() : in(), out(), m_events{NULL, NULL} {}

KsPacket::~KsPacket()
{
    delete[] out.buffer;
    if (m_events[1]) CloseHandle(m_events[1]);
    delete[] in.buffer;
    if (m_events[0]) CloseHandle(m_events[0]);
}

bool KsPacket::allocate(ULONG captureBytes, ULONG renderBytes)
{
    in.buffer = new (std::nothrow) BYTE[captureBytes ? captureBytes : 1]();
    out.buffer = new (std::nothrow) BYTE[renderBytes ? renderBytes : 1]();
    m_events[0] = CreateEventA(NULL, FALSE, TRUE, NULL);
    m_events[1] = CreateEventA(NULL, FALSE, TRUE, NULL);
    if (!in.buffer || !out.buffer || !m_events[0] || !m_events[1]) return false;
    in.bufferBytes = captureBytes;
    out.bufferBytes = renderBytes;
    in.overlapped.hEvent = m_events[0];
    out.overlapped.hEvent = m_events[1];
    prepareHeader(in, 0);
    // A write always carries the whole buffer.
    prepareHeader(out, renderBytes);
    return true;
}

void KsPacket::prepareHeader(KsPacketHalf& half, ULONG dataUsed)
{
    memset(&half.header, 0, sizeof half.header);
    half.header.Size = sizeof half.header;
    half.header.PresentationTime.Numerator = 1;
    half.header.PresentationTime.Denominator = 1;
    half.header.FrameExtent = half.bufferBytes;
    half.header.DataUsed = dataUsed;
    half.header.Data = half.buffer;
}

DWORD KsPacket::waitForCompletion() { return WaitForMultipleObjects(2, m_events, TRUE, kCompletionTimeoutMs); }

bool KsPacket::discontinuity() const
{
    return (in.header.OptionsFlags & KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY) != 0;
}

void KsPacket::waitUntilIdle() { WaitForMultipleObjects(2, m_events, TRUE, kCompletionTimeoutMs); }

HRESULT KsPacket::read(CKsPin* capturePin)
{
    prepareHeader(in, 0);
    HRESULT hr = capturePin->ReadData(&in.header, &in.overlapped);
    // The write of this cycle is not queued after a failed read: both
    // halves are idle, or the shut-down would wait for a write never sent.
    if (FAILED(hr)) {
        SetEvent(m_events[0]);
        SetEvent(m_events[1]);
    }
    return hr;
}

HRESULT KsPacket::write(CKsPin* renderPin)
{
    HRESULT hr = renderPin->WriteData(&out.header, &out.overlapped);
    if (FAILED(hr)) SetEvent(m_events[1]);
    return hr;
}
