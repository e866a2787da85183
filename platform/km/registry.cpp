// The kernel's registry routines (Zw*) over the shared store, with checked
// handles: closing twice or using a closed handle is a finding.
#include <wdm.h>

#include "km/keyhandles.h"
#include "km/utf16.h"
#include "km/verifier.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace kmsim {
namespace {

struct KeyHandle {
    RegistryKeyRef key;
    ACCESS_MASK access;
};

struct HandleTable {
    std::mutex mutex;
    std::map<uintptr_t, KeyHandle> open;
    std::set<uintptr_t> closed;  // values are never reused, so a closed one stays recognisable
    uintptr_t next = 0x1000;
};

HandleTable& TheHandles()
{
    static HandleTable* table = new HandleTable;
    return *table;
}

ACCESS_MASK MapGenericAccess(ACCESS_MASK access)
{
    ACCESS_MASK mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
    if (access & (GENERIC_READ | GENERIC_EXECUTE)) mapped |= KEY_READ;
    if (access & GENERIC_WRITE) mapped |= KEY_WRITE;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) mapped |= KEY_ALL_ACCESS;
    return mapped;
}

std::string HandleText(HANDLE handle)
{
    char text[48];
    snprintf(text, sizeof text, "%p", handle);
    return text;
}

// The key behind a handle, or a failure status (reported when the handle is
// not an open one).
NTSTATUS Lookup(HANDLE handle, const char* routine, ACCESS_MASK needed, RegistryKeyRef& key)
{
    HandleTable& t = TheHandles();
    std::unique_lock lock(t.mutex);
    auto it = t.open.find(uintptr_t(handle));
    if (it == t.open.end()) {
        bool closed = t.closed.count(uintptr_t(handle)) != 0;
        lock.unlock();
        ReportViolation("handle", std::string(routine) + "(" + HandleText(handle) + "): " +
                                      (closed ? "the handle is closed" : "not a registry key handle"));
        return STATUS_INVALID_HANDLE;
    }
    if ((it->second.access & needed) != needed) return STATUS_ACCESS_DENIED;
    key = it->second.key;
    lock.unlock();
    if (RegistryKeyDeleted(key)) return STATUS_KEY_DELETED;
    return STATUS_SUCCESS;
}

bool ToUtf8(PCUNICODE_STRING text, std::string& out)
{
    out.clear();
    if (!text) return true;
    if ((text->Length & 1) || (text->Length && !text->Buffer) || text->Length > text->MaximumLength) return false;
    out = Utf16ToUtf8(std::u16string_view(text->Buffer, text->Length / sizeof(WCHAR)));
    return true;
}

bool AtPassiveLevel(const char* routine)
{
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) return true;
    ReportViolation("irql", std::string(routine) + " at IRQL " + std::to_string(KeGetCurrentIrql()));
    return false;
}

// The absolute path an OBJECT_ATTRIBUTES names.
NTSTATUS ResolvePath(POBJECT_ATTRIBUTES attributes, const char* routine, std::string& path)
{
    if (!attributes || !attributes->ObjectName) return STATUS_INVALID_PARAMETER;
    std::string name;
    if (!ToUtf8(attributes->ObjectName, name)) return STATUS_INVALID_PARAMETER;
    if (attributes->RootDirectory) {
        RegistryKeyRef root;
        NTSTATUS status = Lookup(attributes->RootDirectory, routine, 0, root);
        if (!NT_SUCCESS(status)) return status;
        if (!name.empty() && name[0] == '\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
        path = JoinRegistryPath(RegistryKeyPath(root), name);
        return STATUS_SUCCESS;
    }
    if (name.empty() || name[0] != '\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    path = name;
    return STATUS_SUCCESS;
}

// Fills one KEY_VALUE_*_INFORMATION record following the size protocol:
// too small for the fixed part -> STATUS_BUFFER_TOO_SMALL; fixed part only
// -> STATUS_BUFFER_OVERFLOW with it filled; *ResultLength is always the
// size needed.
NTSTATUS FillValueInformation(const std::string& name, const RegistryValue& value, KEY_VALUE_INFORMATION_CLASS kind,
                              PVOID buffer, ULONG length, PULONG resultLength)
{
    std::u16string wideName = Utf8ToUtf16(name);
    auto nameBytes = ULONG(wideName.size() * sizeof(WCHAR));
    auto dataBytes = ULONG(value.data.size());
    auto out = static_cast<PUCHAR>(buffer);
    ULONG header;
    ULONG needed;
    switch (kind) {
    case KeyValueBasicInformation: {
        header = FIELD_OFFSET(KEY_VALUE_BASIC_INFORMATION, Name);
        needed = header + nameBytes;
        *resultLength = needed;
        if (length < header) return STATUS_BUFFER_TOO_SMALL;
        KEY_VALUE_BASIC_INFORMATION fixed{0, value.type, nameBytes, {0}};
        memcpy(out, &fixed, header);
        if (length < needed) return STATUS_BUFFER_OVERFLOW;
        memcpy(out + header, wideName.data(), nameBytes);
        return STATUS_SUCCESS;
    }
    case KeyValueFullInformation: {
        header = FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name);
        ULONG dataOffset = (header + nameBytes + sizeof(ULONG) - 1) & ~ULONG(sizeof(ULONG) - 1);
        needed = dataOffset + dataBytes;
        *resultLength = needed;
        if (length < header) return STATUS_BUFFER_TOO_SMALL;
        KEY_VALUE_FULL_INFORMATION fixed{0, value.type, dataOffset, dataBytes, nameBytes, {0}};
        memcpy(out, &fixed, header);
        if (length < needed) return STATUS_BUFFER_OVERFLOW;
        memcpy(out + header, wideName.data(), nameBytes);
        memset(out + header + nameBytes, 0, dataOffset - header - nameBytes);
        if (dataBytes) memcpy(out + dataOffset, value.data.data(), dataBytes);
        return STATUS_SUCCESS;
    }
    case KeyValuePartialInformation: {
        header = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
        needed = header + dataBytes;
        *resultLength = needed;
        if (length < header) return STATUS_BUFFER_TOO_SMALL;
        KEY_VALUE_PARTIAL_INFORMATION fixed{0, value.type, dataBytes, {0}};
        memcpy(out, &fixed, header);
        if (length < needed) return STATUS_BUFFER_OVERFLOW;
        if (dataBytes) memcpy(out + header, value.data.data(), dataBytes);
        return STATUS_SUCCESS;
    }
    }
    return STATUS_INVALID_PARAMETER;
}

}  // namespace

HANDLE OpenKeyHandle(RegistryKeyRef key, ACCESS_MASK desiredAccess)
{
    HandleTable& t = TheHandles();
    std::lock_guard lock(t.mutex);
    uintptr_t value = t.next;
    t.next += 4;
    t.open[value] = {std::move(key), MapGenericAccess(desiredAccess)};
    return reinterpret_cast<HANDLE>(value);
}

size_t OpenKeyHandleCount()
{
    HandleTable& t = TheHandles();
    std::lock_guard lock(t.mutex);
    return t.open.size();
}

}  // namespace kmsim

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes)
{
    kmsim::AtPassiveLevel("ZwOpenKey");
    if (!KeyHandle) return STATUS_INVALID_PARAMETER;
    std::string path;
    NTSTATUS status = kmsim::ResolvePath(ObjectAttributes, "ZwOpenKey", path);
    if (!NT_SUCCESS(status)) return status;
    kmsim::RegistryKeyRef key = kmsim::OpenRegistryKey(path);
    if (!key) return STATUS_OBJECT_NAME_NOT_FOUND;
    *KeyHandle = kmsim::OpenKeyHandle(std::move(key), DesiredAccess);
    return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                     ULONG TitleIndex, PUNICODE_STRING Class, ULONG CreateOptions, PULONG Disposition)
{
    UNREFERENCED_PARAMETER(TitleIndex);
    UNREFERENCED_PARAMETER(Class);
    UNREFERENCED_PARAMETER(CreateOptions);
    kmsim::AtPassiveLevel("ZwCreateKey");
    if (!KeyHandle) return STATUS_INVALID_PARAMETER;
    std::string path;
    NTSTATUS status = kmsim::ResolvePath(ObjectAttributes, "ZwCreateKey", path);
    if (!NT_SUCCESS(status)) return status;
    bool created = false;
    // Only the last component is created, as on Windows.
    kmsim::RegistryKeyRef key = kmsim::CreateRegistryKey(path, false, &created);
    if (!key) return STATUS_OBJECT_NAME_NOT_FOUND;
    *KeyHandle = kmsim::OpenKeyHandle(std::move(key), DesiredAccess);
    if (Disposition) *Disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                         ULONG Length, PULONG ResultLength)
{
    kmsim::AtPassiveLevel("ZwQueryValueKey");
    kmsim::RegistryKeyRef key;
    NTSTATUS status = kmsim::Lookup(KeyHandle, "ZwQueryValueKey", KEY_QUERY_VALUE, key);
    if (!NT_SUCCESS(status)) return status;
    std::string name;
    if (!ResultLength || (Length && !KeyValueInformation) || !kmsim::ToUtf8(ValueName, name)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (KeyValueInformationClass != KeyValueBasicInformation && KeyValueInformationClass != KeyValueFullInformation &&
        KeyValueInformationClass != KeyValuePartialInformation) {
        return STATUS_INVALID_PARAMETER;
    }
    std::optional<kmsim::RegistryValue> value = kmsim::GetKeyValue(key, name);
    if (!value) return kmsim::RegistryKeyDeleted(key) ? STATUS_KEY_DELETED : STATUS_OBJECT_NAME_NOT_FOUND;
    return kmsim::FillValueInformation(name, *value, KeyValueInformationClass, KeyValueInformation, Length,
                                       ResultLength);
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type, PVOID Data,
                       ULONG DataSize)
{
    UNREFERENCED_PARAMETER(TitleIndex);
    kmsim::AtPassiveLevel("ZwSetValueKey");
    kmsim::RegistryKeyRef key;
    NTSTATUS status = kmsim::Lookup(KeyHandle, "ZwSetValueKey", KEY_SET_VALUE, key);
    if (!NT_SUCCESS(status)) return status;
    std::string name;
    if ((DataSize && !Data) || !kmsim::ToUtf8(ValueName, name)) return STATUS_INVALID_PARAMETER;
    auto bytes = static_cast<const uint8_t*>(Data);
    kmsim::RegistryValue value{Type, std::vector<uint8_t>(bytes, bytes + DataSize)};
    return kmsim::SetKeyValue(key, name, std::move(value)) ? STATUS_SUCCESS : STATUS_KEY_DELETED;
}

NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName)
{
    kmsim::AtPassiveLevel("ZwDeleteValueKey");
    kmsim::RegistryKeyRef key;
    NTSTATUS status = kmsim::Lookup(KeyHandle, "ZwDeleteValueKey", KEY_SET_VALUE, key);
    if (!NT_SUCCESS(status)) return status;
    std::string name;
    if (!kmsim::ToUtf8(ValueName, name)) return STATUS_INVALID_PARAMETER;
    if (kmsim::DeleteKeyValue(key, name)) return STATUS_SUCCESS;
    return kmsim::RegistryKeyDeleted(key) ? STATUS_KEY_DELETED : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS ZwClose(HANDLE Handle)
{
    kmsim::HandleTable& t = kmsim::TheHandles();
    std::unique_lock lock(t.mutex);
    auto it = t.open.find(uintptr_t(Handle));
    if (it == t.open.end()) {
        bool closed = t.closed.count(uintptr_t(Handle)) != 0;
        lock.unlock();
        kmsim::ReportViolation("handle", "ZwClose(" + kmsim::HandleText(Handle) + "): " +
                                             (closed ? "the handle is already closed" : "not an open handle"));
        return STATUS_INVALID_HANDLE;
    }
    t.open.erase(it);
    t.closed.insert(uintptr_t(Handle));
    return STATUS_SUCCESS;
}
