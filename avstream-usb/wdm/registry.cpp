#include "registry.h"

namespace {
// Larger values are read only as far as this; a DWORD needs far less.
constexpr ULONG kMaxValueBuffer = 4096;
}

NTSTATUS ReadDword(HANDLE key, PCWSTR name, ULONG* value)
{
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);

    ULONG needed = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, nullptr, 0, &needed);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND) return status;
    if (needed > kMaxValueBuffer - 1) needed = kMaxValueBuffer;
    if (needed < sizeof(KEY_VALUE_PARTIAL_INFORMATION)) needed = sizeof(KEY_VALUE_PARTIAL_INFORMATION);

    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(ExAllocatePoolWithTag(PagedPool, needed, kBufferTag));
    if (!info) return STATUS_INSUFFICIENT_RESOURCES;
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, needed, &needed);
    if (NT_SUCCESS(status)) {
        if (info->Type == REG_DWORD && info->DataLength >= sizeof(ULONG))
            RtlCopyMemory(value, info->Data, sizeof(ULONG));
        else
            status = STATUS_OBJECT_TYPE_MISMATCH;
    }
    ExFreePoolWithTag(info, kBufferTag);
    return status;
}

NTSTATUS WriteDword(HANDLE key, PCWSTR name, ULONG value)
{
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    return ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
}
