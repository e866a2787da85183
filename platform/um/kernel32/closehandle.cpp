// CloseHandle: every kind of object except registry keys, which close with
// RegCloseKey, device information sets and INF files, which SetupAPI
// closes, windows, which DestroyWindow ends, and WinHTTP's handles. (Module handles are load addresses, not handles.)
#include "um/handletable.h"

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    auto object = umsim::LookupHandle(hObject, "CloseHandle");
    if (!object) return FALSE;
    if (object->Kind() == umsim::ObjectKind::RegistryKey || object->Kind() == umsim::ObjectKind::DeviceInfoSet ||
        object->Kind() == umsim::ObjectKind::Window || object->Kind() == umsim::ObjectKind::InfFile ||
        umsim::IsInternetKind(object->Kind())) {
        umsim::ReportHandleMisuse(hObject, "CloseHandle",
                                  std::string("a ") + umsim::KindName(object->Kind()) + " is not closed this way");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The object itself goes when its last user lets go (a request in
    // progress on another thread keeps a file open until it returns).
    object.reset();
    return umsim::RemoveHandle(hObject, "CloseHandle") ? TRUE : FALSE;
}
