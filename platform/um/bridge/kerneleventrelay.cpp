// Kernel events standing in for user-mode event handles. Kernel streaming
// signals the KEVENT it was given; a relay thread waits on it at
// PASSIVE_LEVEL and passes each signal on to the user-mode event.
#include <wdm.h>

#include "um/bridge/kernelbridge.h"

#include <atomic>
#include <thread>

namespace umsim::bridge {

struct KernelEventRelay {
    KEVENT event;
    std::atomic<bool> stopping{false};
    std::function<void()> signal;
    std::thread thread;
};

KernelEventRelay* CreateKernelEventRelay(std::function<void()> signal)
{
    auto* relay = new KernelEventRelay;
    KeInitializeEvent(&relay->event, SynchronizationEvent, FALSE);
    relay->signal = std::move(signal);
    relay->thread = std::thread([relay] {
        for (;;) {
            KeWaitForSingleObject(&relay->event, Executive, UserMode, FALSE, nullptr);
            if (relay->stopping) return;
            relay->signal();
        }
    });
    return relay;
}

void* KernelEventOf(KernelEventRelay* relay) { return &relay->event; }

void DeleteKernelEventRelay(KernelEventRelay* relay)
{
    if (!relay) return;
    relay->stopping = true;
    KeSetEvent(&relay->event, IO_NO_INCREMENT, FALSE);
    relay->thread.join();
    delete relay;
}

}  // namespace umsim::bridge
