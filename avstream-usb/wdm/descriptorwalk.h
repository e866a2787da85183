// A bounded walk over a run of USB descriptors: each one is handed out only
// when its bLength covers its own header and lies wholly inside the run,
// and the walk ends at the first that does not.
#pragma once

#include <ntddk.h>
#include <usb.h>

class DescriptorWalk {
public:
    DescriptorWalk(const void* start, const void* end)
        : m_at(static_cast<const UCHAR*>(start)), m_end(static_cast<const UCHAR*>(end))
    {
    }

    // The next whole descriptor, or null at the end of the run or at a
    // descriptor that claims fewer than two or more than the remaining bytes.
    const UCHAR* Next()
    {
        if (!m_at || m_at >= m_end || m_end - m_at < 2) return nullptr;
        const ULONG length = m_at[0];
        if (length < 2 || length > ULONG(m_end - m_at)) {
            m_at = nullptr;
            return nullptr;
        }
        const UCHAR* descriptor = m_at;
        m_at += length;
        return descriptor;
    }

    // Descriptor types used by the walks.
    static constexpr UCHAR kInterface = 0x04;
    static constexpr UCHAR kEndpoint = 0x05;
    static constexpr UCHAR kCsInterface = 0x24;

private:
    const UCHAR* m_at;
    const UCHAR* m_end;
};
