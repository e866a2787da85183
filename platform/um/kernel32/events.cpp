// CreateEventA, SetEvent, ResetEvent.
#include "um/kernel32/eventobject.h"

#include "um/bridge/kernelbridge.h"

namespace umsim {

EventObject::EventObject(bool manualReset, bool initialState)
    : Waitable(ObjectKind::Event), m_manualReset(manualReset), m_signalled(initialState)
{
}

EventObject::~EventObject() { bridge::DeleteKernelEventRelay(m_relay); }

void EventObject::Set()
{
    std::lock_guard lock(WaitLock());
    m_signalled = true;
    NotifyWaiters();
}

void EventObject::Reset()
{
    std::lock_guard lock(WaitLock());
    m_signalled = false;
}

void* EventObject::KernelEvent()
{
    std::lock_guard lock(m_relayLock);
    // The relay holds a plain pointer: the event outlives it, because the
    // destructor stops the relay first.
    if (!m_relay) m_relay = bridge::CreateKernelEventRelay([this] { Set(); });
    return bridge::KernelEventOf(m_relay);
}

}  // namespace umsim

using umsim::EventObject;

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName)
{
    UNREFERENCED_PARAMETER(lpEventAttributes);
    if (lpName) {
        // Named events are shared between processes; nothing here needs them.
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    SetLastError(ERROR_SUCCESS);
    return umsim::InsertHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    auto event = umsim::LookupHandleOf<EventObject>(hEvent, umsim::ObjectKind::Event, "SetEvent");
    if (!event) return FALSE;
    event->Set();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    auto event = umsim::LookupHandleOf<EventObject>(hEvent, umsim::ObjectKind::Event, "ResetEvent");
    if (!event) return FALSE;
    event->Reset();
    return TRUE;
}
