// Handle values are multiples of 4 (the low bits stay free for callers
// that tag them, as the overlapped event's low bit does) counting up from
// 0x1000 and never reused.
#include "um/handletable.h"

#include "um/bridge/kernelbridge.h"

#include <cstdio>
#include <unordered_map>

namespace umsim {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>> objects;
    uintptr_t next = 0x1000;
};

Table& TheTable()
{
    static Table* table = new Table;
    return *table;
}

// The low two bits of a handle are the caller's tag bits; the kernel
// ignores them when it looks a handle up.
uintptr_t Key(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) & ~uintptr_t(3); }

// Values are handed out upwards from 0x1000 and never reused.
bool HandedOut(uintptr_t value, uintptr_t next) { return value >= 0x1000 && value < next; }

}  // namespace

const char* KindName(ObjectKind kind)
{
    switch (kind) {
    case ObjectKind::Event: return "event";
    case ObjectKind::Thread: return "thread";
    case ObjectKind::File: return "file";
    case ObjectKind::RegistryKey: return "registry key";
    case ObjectKind::DeviceInfoSet: return "device information set";
    case ObjectKind::Window: return "window";
    case ObjectKind::InfFile: return "INF file";
    case ObjectKind::InternetSession: return "WinHTTP session";
    case ObjectKind::InternetConnection: return "WinHTTP connection";
    case ObjectKind::InternetRequest: return "WinHTTP request";
    }
    return "object";
}

bool IsInternetKind(ObjectKind kind)
{
    return kind == ObjectKind::InternetSession || kind == ObjectKind::InternetConnection ||
           kind == ObjectKind::InternetRequest;
}

std::mutex& WaitLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::condition_variable& WaitCondition()
{
    static std::condition_variable* condition = new std::condition_variable;
    return *condition;
}

void NotifyWaiters() { WaitCondition().notify_all(); }

void ReportHandleMisuse(HANDLE handle, const char* routine, const std::string& what)
{
    char text[64];
    snprintf(text, sizeof text, "%s(%p): ", routine, handle);
    bridge::ReportViolation("handle", text + what);
}

HANDLE InsertHandle(std::shared_ptr<HandleObject> object)
{
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, const char* routine)
{
    Table& t = TheTable();
    uintptr_t value = Key(handle);
    uintptr_t next;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(value);
        if (it != t.objects.end()) return it->second;
        next = t.next;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    // Null and INVALID_HANDLE_VALUE are ordinary failures callers test for;
    // anything else is a handle that was closed or never existed.
    if (handle && handle != INVALID_HANDLE_VALUE) {
        ReportHandleMisuse(handle, routine, HandedOut(value, next) ? "the handle was already closed" : "not a handle");
    }
    return nullptr;
}

bool WasClosedHandle(HANDLE handle)
{
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    const uintptr_t value = Key(handle);
    return HandedOut(value, t.next) && t.objects.find(value) == t.objects.end();
}

std::shared_ptr<HandleObject> PeekHandle(HANDLE handle)
{
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(Key(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle, const char* routine)
{
    Table& t = TheTable();
    std::shared_ptr<HandleObject> object;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(Key(handle));
        if (it != t.objects.end()) {
            object = std::move(it->second);
            t.objects.erase(it);
            return object;
        }
    }
    return LookupHandle(handle, routine);  // reports and sets the error
}

size_t OpenHandleCount()
{
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    return t.objects.size();
}

}  // namespace umsim
