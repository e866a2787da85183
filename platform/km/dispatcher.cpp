// Dispatcher objects (events) and waits. Events live in driver memory, so
// the only state kept here is the list of threads waiting right now, each
// waiter on its own stack: nothing to leak when an event's memory goes.
#include <wdm.h>

#include "km/kerneltime.h"
#include "km/verifier.h"

#include <condition_variable>
#include <utility>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

struct Waiter {
    bool satisfied = false;
};

struct Dispatcher {
    std::mutex mutex;
    std::condition_variable changed;
    // Waiters in arrival order; a synchronisation event releases the first.
    std::unordered_map<const DISPATCHER_HEADER*, std::deque<Waiter*>> waiters;
};

Dispatcher& TheDispatcher()
{
    static Dispatcher* dispatcher = new Dispatcher;
    return *dispatcher;
}

constexpr UCHAR kEventSizeInLongs = sizeof(KEVENT) / sizeof(LONG);

bool IsEvent(const DISPATCHER_HEADER* header)
{
    return (header->Type == NotificationEvent || header->Type == SynchronizationEvent) &&
           header->Size == kEventSizeInLongs;
}

bool CheckEvent(const DISPATCHER_HEADER* header, const char* routine)
{
    if (header && IsEvent(header)) return true;
    char text[128];
    snprintf(text, sizeof text, "%s(%p): not an initialised event", routine, (const void*)header);
    kmsim::ReportViolation("object", text);
    return false;
}

void RemoveWaiter(Dispatcher& d, const DISPATCHER_HEADER* header, Waiter* waiter)
{
    auto it = d.waiters.find(header);
    if (it == d.waiters.end()) return;
    std::erase(it->second, waiter);
    if (it->second.empty()) d.waiters.erase(it);
}

}  // namespace

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State)
{
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (d.waiters.count(&Event->Header)) {
        lock.unlock();
        kmsim::ReportViolation("object", "KeInitializeEvent on an event that threads are waiting on");
        lock.lock();
    }
    Event->Header.Type = UCHAR(Type);
    Event->Header.Absolute = 0;
    Event->Header.Size = kEventSizeInLongs;
    Event->Header.Inserted = 0;
    Event->Header.SignalState = State ? 1 : 0;
    InitializeListHead(&Event->Header.WaitListHead);
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait)
{
    UNREFERENCED_PARAMETER(Increment);
    UNREFERENCED_PARAMETER(Wait);
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "KeSetEvent at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    if (!CheckEvent(&Event->Header, "KeSetEvent")) return 0;
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    LONG previous = Event->Header.SignalState;
    auto it = d.waiters.find(&Event->Header);
    if (Event->Header.Type == NotificationEvent) {
        // Every thread waiting now is released, even if the event is
        // cleared again before it runs.
        Event->Header.SignalState = 1;
        if (it != d.waiters.end()) {
            for (Waiter* waiter : it->second) waiter->satisfied = true;
            d.waiters.erase(it);
        }
    } else if (it != d.waiters.end()) {
        // A synchronisation event hands the signal straight to one waiter.
        it->second.front()->satisfied = true;
        it->second.pop_front();
        if (it->second.empty()) d.waiters.erase(it);
    } else {
        Event->Header.SignalState = 1;
    }
    d.changed.notify_all();
    return previous;
}

void KeClearEvent(PRKEVENT Event)
{
    if (!CheckEvent(&Event->Header, "KeClearEvent")) return;
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    Event->Header.SignalState = 0;
}

LONG KeResetEvent(PRKEVENT Event)
{
    if (!CheckEvent(&Event->Header, "KeResetEvent")) return 0;
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return std::exchange(Event->Header.SignalState, 0);
}

LONG KeReadStateEvent(PRKEVENT Event)
{
    if (!CheckEvent(&Event->Header, "KeReadStateEvent")) return 0;
    Dispatcher& d = TheDispatcher();
    std::lock_guard lock(d.mutex);
    return Event->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout)
{
    UNREFERENCED_PARAMETER(WaitReason);
    UNREFERENCED_PARAMETER(WaitMode);
    UNREFERENCED_PARAMETER(Alertable);
    bool poll = Timeout && Timeout->QuadPart == 0;
    if (KeGetCurrentIrql() >= DISPATCH_LEVEL && !poll) {
        kmsim::ReportViolation("irql", "KeWaitForSingleObject at IRQL " + std::to_string(KeGetCurrentIrql()) +
                                           (Timeout ? " with a non-zero time-out" : " without a time-out"));
    }
    auto header = static_cast<DISPATCHER_HEADER*>(Object);
    if (!CheckEvent(header, "KeWaitForSingleObject")) return STATUS_INVALID_PARAMETER;
    auto deadline = Timeout ? kmsim::DeadlineFromTimeout(Timeout->QuadPart) : std::chrono::steady_clock::time_point{};
    Dispatcher& d = TheDispatcher();
    std::unique_lock lock(d.mutex);
    if (header->SignalState > 0) {
        if (header->Type == SynchronizationEvent) header->SignalState = 0;
        return STATUS_SUCCESS;
    }
    if (poll) return STATUS_TIMEOUT;
    Waiter waiter;
    d.waiters[header].push_back(&waiter);
    while (!waiter.satisfied) {
        if (!Timeout) {
            d.changed.wait(lock);
        } else if (d.changed.wait_until(lock, deadline) == std::cv_status::timeout && !waiter.satisfied) {
            RemoveWaiter(d, header, &waiter);
            return STATUS_TIMEOUT;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval)
{
    UNREFERENCED_PARAMETER(WaitMode);
    UNREFERENCED_PARAMETER(Alertable);
    if (KeGetCurrentIrql() > APC_LEVEL) {
        kmsim::ReportViolation("irql", "KeDelayExecutionThread at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    if (!Interval) return STATUS_INVALID_PARAMETER;
    std::this_thread::sleep_until(kmsim::DeadlineFromTimeout(Interval->QuadPart));
    return STATUS_SUCCESS;
}
