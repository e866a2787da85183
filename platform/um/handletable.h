// The process's handle table: every Win32 handle the emulation hands out
// names a kernel-object stand-in here. Handles are checked on every call;
// a closed or foreign handle is a verifier finding, not a crash.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace umsim {

enum class ObjectKind {
    Event,
    Thread,
    File,
    RegistryKey,
    DeviceInfoSet,
    Window,
    InfFile,
    InternetSession,
    InternetConnection,
    InternetRequest
};
const char* KindName(ObjectKind kind);
// WinHTTP's handles, which only WinHttpCloseHandle closes.
bool IsInternetKind(ObjectKind kind);

class HandleObject {
public:
    explicit HandleObject(ObjectKind kind) : m_kind(kind) {}
    virtual ~HandleObject() = default;
    ObjectKind Kind() const { return m_kind; }

private:
    ObjectKind m_kind;
};

// Objects a wait can name. State changes happen under WaitLock() and end
// with NotifyWaiters(), so one condition serves every multi-object wait.
class Waitable : public HandleObject {
public:
    using HandleObject::HandleObject;
    // Called under WaitLock().
    virtual bool IsSignalled() const = 0;
    // A satisfied wait consumes the signal of an auto-reset object.
    virtual void Acquire() {}
};
std::mutex& WaitLock();
void NotifyWaiters();  // call with WaitLock() held
std::condition_variable& WaitCondition();

// Inserts the object and returns its new handle value (never reused while
// the process runs, so a stale handle never names a newer object).
HANDLE InsertHandle(std::shared_ptr<HandleObject> object);
// The object a handle names, or null; on null, reports a "handle" violation
// naming the routine (unless the handle is a pseudo or null handle the
// caller handles itself) and sets ERROR_INVALID_HANDLE.
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle, const char* routine);
// A handle of another kind is a finding too, failing with wrongKindError.
template <class T>
std::shared_ptr<T> LookupHandleOf(HANDLE handle, ObjectKind kind, const char* routine,
                                  DWORD wrongKindError = ERROR_INVALID_HANDLE);
// The object a handle names, or null, without a finding: for the calls
// whose purpose is to ask whether a handle is still valid (IsWindow).
std::shared_ptr<HandleObject> PeekHandle(HANDLE handle);
// Whether the value was handed out once and has been closed since.
bool WasClosedHandle(HANDLE handle);
// Takes the handle out of the table; the object dies with its last user.
std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle, const char* routine);

// Handles open right now, for leak checks.
size_t OpenHandleCount();

}  // namespace umsim

#include "um/handletable.inl"
