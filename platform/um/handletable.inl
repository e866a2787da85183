// Template part of handletable.h.
#pragma once

namespace umsim {

void ReportHandleMisuse(HANDLE handle, const char* routine, const std::string& what);

template <class T>
std::shared_ptr<T> LookupHandleOf(HANDLE handle, ObjectKind kind, const char* routine, DWORD wrongKindError)
{
    std::shared_ptr<HandleObject> object = LookupHandle(handle, routine);
    if (!object) return nullptr;
    if (object->Kind() != kind) {
        ReportHandleMisuse(handle, routine,
                           std::string("names a ") + KindName(object->Kind()) + ", not a " + KindName(kind));
        SetLastError(wrongKindError);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

}  // namespace umsim
