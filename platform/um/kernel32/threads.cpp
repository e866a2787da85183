// Threads: CreateThread (optionally suspended), ResumeThread, priorities,
// exit codes, and waiting on a thread handle until it ends.
//
// ExitThread and FreeLibraryAndExitThread unwind the thread's routine back
// to its start, which then frees the module: so the module's code and its
// unwind tables stay mapped until nothing of the thread runs in it.
//
// TerminateThread can only end a thread that never ran (created suspended
// and not resumed yet): a running host thread cannot be stopped safely, so
// for one the call fails with ERROR_NOT_SUPPORTED.
#include "um/bridge/kernelbridge.h"
#include "um/handletable.h"

#include <cstdlib>
#include <string>

#include <thread>

namespace umsim {
namespace {

const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(LONG_PTR(-2));

// What ExitThread throws to the thread's start; not an exception any
// program code could mean to catch.
struct ThreadExit {
    DWORD code;
    HMODULE module;  // freed once the routine is unwound; NULL: none
};

thread_local bool t_createdThread = false;

[[noreturn]] void EndThread(DWORD code, HMODULE module, const char* routine)
{
    if (!t_createdThread) {
        bridge::ReportViolation("thread", std::string(routine) + ": only a thread made by CreateThread ends here");
        std::abort();
    }
    throw ThreadExit{code, module};
}

class ThreadObject : public Waitable {
public:
    ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD suspendCount)
        : Waitable(ObjectKind::Thread), m_start(start), m_parameter(parameter), m_suspendCount(suspendCount)
    {
    }
    bool IsSignalled() const override { return m_finished; }

    // Called with WaitLock() held.
    void StartLocked(const std::shared_ptr<ThreadObject>& self)
    {
        m_started = true;
        std::thread([self] {
            t_createdThread = true;
            DWORD code;
            try {
                code = self->m_start(self->m_parameter);
            } catch (const ThreadExit& exit) {
                code = exit.code;
                if (exit.module) FreeLibrary(exit.module);
            }
            std::lock_guard lock(WaitLock());
            self->m_exitCode = code;
            self->m_finished = true;
            NotifyWaiters();
        }).detach();
    }

    DWORD m_exitCode = STILL_ACTIVE;  // under WaitLock()
    bool m_finished = false;
    bool m_started = false;
    LPTHREAD_START_ROUTINE m_start;
    LPVOID m_parameter;
    DWORD m_suspendCount;
    int m_priority = THREAD_PRIORITY_NORMAL;
};

std::shared_ptr<ThreadObject> LookupThread(HANDLE handle, const char* routine)
{
    return LookupHandleOf<ThreadObject>(handle, ObjectKind::Thread, routine);
}

thread_local int t_currentPriority = THREAD_PRIORITY_NORMAL;

bool ValidPriority(int priority)
{
    return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
           (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

}  // namespace
}  // namespace umsim

using umsim::ThreadObject;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                           LPDWORD lpThreadId)
{
    UNREFERENCED_PARAMETER(lpThreadAttributes);
    UNREFERENCED_PARAMETER(dwStackSize);
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    bool suspended = (dwCreationFlags & CREATE_SUSPENDED) != 0;
    auto thread = std::make_shared<ThreadObject>(lpStartAddress, lpParameter, suspended ? 1 : 0);
    HANDLE handle = umsim::InsertHandle(thread);
    if (lpThreadId) *lpThreadId = DWORD(reinterpret_cast<uintptr_t>(handle));
    if (!suspended) {
        std::lock_guard lock(umsim::WaitLock());
        thread->StartLocked(thread);
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

void WINAPI ExitThread(DWORD dwExitCode) { umsim::EndThread(dwExitCode, NULL, "ExitThread"); }

void WINAPI FreeLibraryAndExitThread(HMODULE hLibModule, DWORD dwExitCode)
{
    umsim::EndThread(dwExitCode, hLibModule, "FreeLibraryAndExitThread");
}

DWORD WINAPI ResumeThread(HANDLE hThread)
{
    auto thread = umsim::LookupThread(hThread, "ResumeThread");
    if (!thread) return DWORD(-1);
    std::lock_guard lock(umsim::WaitLock());
    DWORD previous = thread->m_suspendCount;
    if (previous > 0 && --thread->m_suspendCount == 0 && !thread->m_started && !thread->m_finished) {
        thread->StartLocked(thread);
    }
    return previous;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority)
{
    if (!umsim::ValidPriority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Priorities are recorded; host scheduling stays as it is.
    if (hThread == umsim::kCurrentThread) {
        umsim::t_currentPriority = nPriority;
        return TRUE;
    }
    auto thread = umsim::LookupThread(hThread, "SetThreadPriority");
    if (!thread) return FALSE;
    std::lock_guard lock(umsim::WaitLock());
    thread->m_priority = nPriority;
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread)
{
    if (hThread == umsim::kCurrentThread) return umsim::t_currentPriority;
    auto thread = umsim::LookupThread(hThread, "GetThreadPriority");
    if (!thread) return 0x7FFFFFFF;  // THREAD_PRIORITY_ERROR_RETURN
    std::lock_guard lock(umsim::WaitLock());
    return thread->m_priority;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    auto thread = umsim::LookupThread(hThread, "GetExitCodeThread");
    if (!thread) return FALSE;
    if (!lpExitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(umsim::WaitLock());
    *lpExitCode = thread->m_exitCode;
    return TRUE;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode)
{
    auto thread = umsim::LookupThread(hThread, "TerminateThread");
    if (!thread) return FALSE;
    std::lock_guard lock(umsim::WaitLock());
    if (thread->m_finished) return TRUE;
    if (thread->m_started) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    thread->m_exitCode = dwExitCode;
    thread->m_finished = true;
    umsim::NotifyWaiters();
    return TRUE;
}

HANDLE WINAPI GetCurrentThread(void) { return umsim::kCurrentThread; }

DWORD WINAPI GetCurrentThreadId(void)
{
    return DWORD(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}
