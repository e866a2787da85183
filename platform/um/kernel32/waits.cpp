// WaitForSingleObject, WaitForMultipleObjects and Sleep over every waitable
// object (events, threads). A wait-all acquires all objects at once.
#include "um/handletable.h"

#include <chrono>
#include <thread>
#include <vector>

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<umsim::Waitable>> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = umsim::LookupHandle(lpHandles[i], "WaitForMultipleObjects");
        if (!object) return WAIT_FAILED;
        if (object->Kind() != umsim::ObjectKind::Event && object->Kind() != umsim::ObjectKind::Thread) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::static_pointer_cast<umsim::Waitable>(object));
    }
    auto deadline = std::chrono::steady_clock::now();
    if (dwMilliseconds != INFINITE) deadline += std::chrono::milliseconds(dwMilliseconds);
    std::unique_lock lock(umsim::WaitLock());
    for (;;) {
        if (bWaitAll) {
            bool all = true;
            for (const auto& object : objects) all = all && object->IsSignalled();
            if (all) {
                for (const auto& object : objects) object->Acquire();
                return WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < nCount; ++i) {
                if (objects[i]->IsSignalled()) {
                    objects[i]->Acquire();
                    return WAIT_OBJECT_0 + i;
                }
            }
        }
        if (dwMilliseconds == INFINITE) {
            umsim::WaitCondition().wait(lock);
        } else {
            if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
            umsim::WaitCondition().wait_until(lock, deadline);
        }
    }
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
