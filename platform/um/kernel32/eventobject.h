// Win32 event objects. An event handed to kernel streaming as a
// notification target gets a kernel event relayed to it (created on first
// use, gone with the event).
#pragma once

#include "um/handletable.h"

namespace umsim {

namespace bridge {
struct KernelEventRelay;
}

class EventObject : public Waitable {
public:
    EventObject(bool manualReset, bool initialState);
    ~EventObject() override;

    bool IsSignalled() const override { return m_signalled; }
    void Acquire() override
    {
        if (!m_manualReset) m_signalled = false;
    }
    void Set();
    void Reset();
    // The PKEVENT kernel code may signal on this event's behalf.
    void* KernelEvent();

private:
    bool m_manualReset;
    bool m_signalled;  // under WaitLock()
    std::mutex m_relayLock;
    bridge::KernelEventRelay* m_relay = nullptr;
};

}  // namespace umsim
