// CreateFileA on device-interface paths, DeviceIoControl with and without an
// OVERLAPPED, GetOverlappedResult and CancelIo.
//
// An OVERLAPPED's Internal holds the request's NTSTATUS (STATUS_PENDING
// until it completes) and InternalHigh its byte count; both are written
// under the wait lock so GetOverlappedResult can wait for them. Its event
// handle may carry the low bit, which only says "no completion port".
#include "um/kernel32/fileobject.h"

#include "um/bridge/kernelbridge.h"
#include "um/kernel32/eventobject.h"
#include "um/ntstatuserror.h"

#include <ks.h>

#include <cstring>

namespace umsim {

FileObject::~FileObject() { bridge::CloseFile(m_file); }

HANDLE InsertFileHandle(bridge::KernelFile* file) { return InsertHandle(std::make_shared<FileObject>(file)); }

std::shared_ptr<FileObject> LookupFile(HANDLE handle, const char* routine)
{
    return LookupHandleOf<FileObject>(handle, ObjectKind::File, routine);
}

namespace {

constexpr ULONG_PTR kStatusPending = 0x103;

HANDLE WithoutTag(HANDLE event) { return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) & ~ULONG_PTR(1)); }

// Sets the result of a request that did not pend (or that a synchronous
// caller waited for).
BOOL Finish(int32_t status, uintptr_t information, LPDWORD bytes)
{
    if (bytes) *bytes = DWORD(information);
    if (status >= 0) {  // warnings (buffer overflow) fail with their error
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    SetLastError(Win32ErrorFromNtStatus(status));
    return FALSE;
}

// Kernel streaming signals a kernel event; the client names a Win32 event.
// For the length of the call the request carries the kernel event relayed
// to it, as the class driver expects.
class EventHandleSubstitution {
public:
    EventHandleSubstitution(DWORD code, LPVOID output, DWORD outputSize) 
    {
        if (code != IOCTL_KS_ENABLE_EVENT || !output || outputSize < sizeof(KSEVENTDATA)) return;
        auto* data = static_cast<KSEVENTDATA*>(output);
        if (data->NotificationType != KSEVENTF_EVENT_HANDLE) return;
        auto event = LookupHandleOf<EventObject>(data->EventHandle.Event, ObjectKind::Event, "DeviceIoControl");
        if (!event) {
            m_invalid = true;
            return;
        }
        m_data = data;
        m_handle = data->EventHandle.Event;
        m_event = event;
        data->EventHandle.Event = event->KernelEvent();
    }
    ~EventHandleSubstitution()
    {
        if (m_data) m_data->EventHandle.Event = m_handle;
    }
    bool Invalid() const { return m_invalid; }

private:
    KSEVENTDATA* m_data = nullptr;
    HANDLE m_handle = nullptr;
    std::shared_ptr<EventObject> m_event;
    bool m_invalid = false;
};

}  // namespace
}  // namespace umsim

using umsim::EventObject;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    UNREFERENCED_PARAMETER(dwDesiredAccess);
    UNREFERENCED_PARAMETER(dwShareMode);
    UNREFERENCED_PARAMETER(lpSecurityAttributes);
    UNREFERENCED_PARAMETER(dwFlagsAndAttributes);
    UNREFERENCED_PARAMETER(hTemplateFile);
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only device interfaces exist in this machine's object namespace.
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    umsim::bridge::KernelFile* file = nullptr;
    int32_t status = umsim::bridge::OpenDeviceInterface(lpFileName, &file);
    if (status < 0 || !file) {
        SetLastError(umsim::Win32ErrorFromNtStatus(status < 0 ? status : int32_t(0xC0000001)));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return umsim::InsertFileHandle(file);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    auto file = umsim::LookupFile(hDevice, "DeviceIoControl");
    if (!file) return FALSE;
    std::shared_ptr<EventObject> event;
    if (lpOverlapped && lpOverlapped->hEvent) {
        event = umsim::LookupHandleOf<EventObject>(umsim::WithoutTag(lpOverlapped->hEvent), umsim::ObjectKind::Event,
                                                   "DeviceIoControl");
        if (!event) return FALSE;
        event->Reset();
    }
    umsim::EventHandleSubstitution substitution(dwIoControlCode, lpOutBuffer, nOutBufferSize);
    if (substitution.Invalid()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }

    // Where the outcome lands: the caller's OVERLAPPED, or a local record
    // for a caller that waits here.
    OVERLAPPED local{};
    LPOVERLAPPED target = lpOverlapped ? lpOverlapped : &local;
    {
        std::lock_guard lock(umsim::WaitLock());
        target->Internal = umsim::kStatusPending;
        target->InternalHigh = 0;
    }
    auto done = [target, event](int32_t status, uintptr_t information) {
        {
            std::lock_guard lock(umsim::WaitLock());
            target->Internal = ULONG_PTR(uint32_t(status));
            target->InternalHigh = information;
            umsim::NotifyWaiters();
        }
        if (event) event->Set();
    };
    int32_t status = umsim::bridge::DeviceControl(file->Kernel(), dwIoControlCode, lpInBuffer, nInBufferSize,
                                                  lpOutBuffer, nOutBufferSize, done);
    if (status == umsim::bridge::kStatusPending) {
        if (lpOverlapped) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        std::unique_lock lock(umsim::WaitLock());
        umsim::WaitCondition().wait(lock, [&] { return local.Internal != umsim::kStatusPending; });
    }
    int32_t final;
    uintptr_t information;
    {
        std::lock_guard lock(umsim::WaitLock());
        final = int32_t(uint32_t(target->Internal));
        information = target->InternalHigh;
    }
    return umsim::Finish(final, information, lpBytesReturned);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait)
{
    if (!umsim::LookupFile(hFile, "GetOverlappedResult")) return FALSE;
    if (!lpOverlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int32_t status;
    uintptr_t information;
    {
        std::unique_lock lock(umsim::WaitLock());
        if (lpOverlapped->Internal == umsim::kStatusPending) {
            if (!bWait) {
                SetLastError(ERROR_IO_INCOMPLETE);
                return FALSE;
            }
            umsim::WaitCondition().wait(lock, [&] { return lpOverlapped->Internal != umsim::kStatusPending; });
        }
        status = int32_t(uint32_t(lpOverlapped->Internal));
        information = lpOverlapped->InternalHigh;
    }
    return umsim::Finish(status, information, lpNumberOfBytesTransferred);
}

BOOL WINAPI CancelIo(HANDLE hFile)
{
    auto file = umsim::LookupFile(hFile, "CancelIo");
    if (!file) return FALSE;
    // Cancels every request pending on the handle, whichever thread sent it.
    umsim::bridge::CancelFileRequests(file->Kernel());
    return TRUE;
}
