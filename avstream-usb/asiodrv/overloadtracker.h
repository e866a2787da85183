// How the streaming thread answers capture discontinuities: every one is an
// overload to report; one alone still lets the buffer switch through, and
// from the second in a row switches are withheld until as many clean
// packets have come back. A pure routine.
#pragma once

class OverloadTracker {
public:
    // Called once per completed packet; whether its buffer switch happens.
    bool packetCompleted(bool discontinuity)
    {
        if (discontinuity) {
            ++m_count;
        } else if (m_count > 0) {
            --m_count;
        }
        return m_count < 2;
    }

private:
    unsigned m_count = 0;  // the streaming thread's only
};
