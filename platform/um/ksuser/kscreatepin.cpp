// ksuser.dll's KsCreatePin: creates a pin on a filter handle from a
// KSPIN_CONNECT followed by its KSDATAFORMAT. Returns a Win32 error code.
#include "um/bridge/kernelbridge.h"
#include "um/kernel32/fileobject.h"
#include "um/ntstatuserror.h"

#include <ks.h>

#include <cstring>

// Declared with the published parameter types: callers reach it through
// GetProcAddress with exactly this function type.
DWORD WINAPI KsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK DesiredAccess,
                         PHANDLE ConnectionHandle)
{
    UNREFERENCED_PARAMETER(DesiredAccess);
    if (!Connect || !ConnectionHandle) return ERROR_INVALID_PARAMETER;
    auto filter = umsim::LookupFile(FilterHandle, "KsCreatePin");
    if (!filter) return ERROR_INVALID_HANDLE;
    // The format's size says how long the whole request is.
    KSDATAFORMAT format;
    memcpy(&format, reinterpret_cast<const uint8_t*>(Connect) + sizeof(KSPIN_CONNECT), sizeof format);
    if (format.FormatSize < sizeof(KSDATAFORMAT)) return ERROR_INVALID_PARAMETER;
    umsim::bridge::KernelFile* pin = nullptr;
    int32_t status = umsim::bridge::OpenPin(filter->Kernel(), Connect, sizeof(KSPIN_CONNECT) + format.FormatSize, &pin);
    if (status < 0 || !pin) return umsim::Win32ErrorFromNtStatus(status < 0 ? status : int32_t(0xC0000001));
    *ConnectionHandle = umsim::InsertFileHandle(pin);
    return ERROR_SUCCESS;
}
