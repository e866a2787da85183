#include "midiport.h"

MidiPort::MidiPort(MidiEndpoint* endpoint, ULONG cable) : m_cable(cable), m_endpoint(endpoint)
{
    ExInitializeFastMutex(&m_outputMutex);
    KeInitializeEvent(&m_sysexEnded, NotificationEvent, TRUE);
    KeInitializeSpinLock(&m_listenerLock);
}

#include "midiendpoint.h"
#include "usbmidipin.h"

namespace {
// Pumps in a row that took nothing before a write gives up.
constexpr ULONG kPumpBudget = 3;
}

bool MidiPort::AcquireOutput(const UsbMidiPin* pin, volatile LONG* abandon)
{
    ExAcquireFastMutex(&m_outputMutex);
    while (m_sysexHolder && m_sysexHolder != pin) {
        // Cleared after a wake-up for another pin, so the wait is real.
        KeClearEvent(&m_sysexEnded);
        ExReleaseFastMutex(&m_outputMutex);
        // Looked at after the clear: a wake-up that came before it is seen
        // here, one that comes after it ends the wait.
        if (abandon && InterlockedCompareExchange(abandon, 0, 0) != 0) return false;
        KeWaitForSingleObject(&m_sysexEnded, Executive, KernelMode, FALSE, nullptr);
        ExAcquireFastMutex(&m_outputMutex);
    }
    return true;
}

void MidiPort::WakeWaiters()
{
    KeSetEvent(&m_sysexEnded, IO_NO_INCREMENT, FALSE);
}

void MidiPort::ReleaseOutput(const UsbMidiPin* pin, bool hold)
{
    if (hold) {
        m_sysexHolder = pin;
        KeClearEvent(&m_sysexEnded);
    } else if (m_sysexHolder == pin) {
        m_sysexHolder = nullptr;
        KeSetEvent(&m_sysexEnded, IO_NO_INCREMENT, FALSE);
    }
    ExReleaseFastMutex(&m_outputMutex);
}

void MidiPort::WriteOutput(const UCHAR* bytes, ULONG length)
{
    Offer(bytes, length);
    ULONG budget = kPumpBudget;
    ULONG before = length;
    while (budget > 0) {
        m_endpoint->PumpOutput();
        const KIRQL irql = m_endpoint->AcquirePending();
        const ULONG after = m_pendingLength;
        m_endpoint->ReleasePending(irql);
        if (after == before) --budget;
        before = after;
    }
    Offer(nullptr, 0);
}

// Another cable's pump may take pending bytes at any time; they are offered
// and withdrawn under the lock it packs them under.
void MidiPort::Offer(const UCHAR* bytes, ULONG length)
{
    const KIRQL irql = m_endpoint->AcquirePending();
    m_pendingData = bytes;
    m_pendingLength = length;
    m_endpoint->ReleasePending(irql);
}

ULONG MidiPort::PeekPending(const UCHAR** data) const
{
    *data = m_pendingData;
    return m_pendingLength;
}

void MidiPort::ConsumePending(ULONG n)
{
    if (m_pendingLength > n) {
        m_pendingData += n;
        m_pendingLength -= n;
    } else {
        m_pendingData = nullptr;
        m_pendingLength = 0;
    }
}

void MidiPort::AppendEvent(const UCHAR* bytes, ULONG size)
{
    if (size == 0 || size > kMidiEventStoreSize) return;
    if (m_eventCount == kMaxMidiEvents) DeliverEvents();
    RtlCopyMemory(m_eventStore[m_eventCount], bytes, size);
    m_events[m_eventCount] = {size, m_eventStore[m_eventCount]};
    ++m_eventCount;
}

void MidiPort::DeliverEvents()
{
    if (m_eventCount == 0) return;
    KIRQL irql;
    KeAcquireSpinLock(&m_listenerLock, &irql);
    const ULONG time = m_endpoint->CurrentFrame();
    for (UsbMidiPin* listener : m_listeners)
        if (listener) listener->EnqueueMidiMessages(m_events, m_eventCount, time);
    m_eventCount = 0;
    KeReleaseSpinLock(&m_listenerLock, irql);
}

void MidiPort::AddListener(UsbMidiPin* pin)
{
    KIRQL irql;
    KeAcquireSpinLock(&m_listenerLock, &irql);
    bool present = false;
    for (UsbMidiPin* listener : m_listeners) present = present || listener == pin;
    for (ULONG i = 0; !present && i < kMaxMidiListeners; ++i) {
        if (!m_listeners[i]) {
            m_listeners[i] = pin;
            break;
        }
    }
    KeReleaseSpinLock(&m_listenerLock, irql);
}

void MidiPort::StartListenerClock(UsbMidiPin* pin)
{
    KIRQL irql;
    KeAcquireSpinLock(&m_listenerLock, &irql);
    pin->SetStartFrame(m_endpoint->CurrentFrame());
    KeReleaseSpinLock(&m_listenerLock, irql);
}

void MidiPort::RemoveListener(UsbMidiPin* pin)
{
    KIRQL irql;
    KeAcquireSpinLock(&m_listenerLock, &irql);
    for (UsbMidiPin*& listener : m_listeners)
        if (listener == pin) listener = nullptr;
    KeReleaseSpinLock(&m_listenerLock, irql);
}
