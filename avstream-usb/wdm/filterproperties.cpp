#include "filterproperties.h"

#include "devicesettings.h"
#include "midiport.h"
#include "usbaudiodevice.h"
#include "widetext.h"

#include <stdio.h>

namespace {

constexpr ULONG kMaxNameBytes = 260;
constexpr ULONG kPinNameBufferBytes = 260;
constexpr ULONG kFriendlyNameReadBytes = 240;
constexpr ULONG kMaxFriendlyNameCharacters = 120;
// Room the registry adds before the data of a partial-information answer.
constexpr ULONG kValueInfoOverhead = 13;

UsbAudioDevice* DeviceOfFilter(PKSFILTER filter)
{
    PKSDEVICE device = filter ? KsGetDevice(filter) : nullptr;
    return device ? static_cast<UsbAudioDevice*>(device->Context) : nullptr;
}

ULONG OutputLength(PIRP irp)
{
    return IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
}

// Characters before the terminating zero, looking at no more than `limit`;
// `limit` itself when there is none.
size_t BoundedLength(const WCHAR* text, size_t limit)
{
    size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

}  // namespace

NTSTATUS FormatIntoBuffer(PWCHAR buffer, size_t characters, PCWSTR format, ...)
{
    if (characters == 0) return STATUS_INVALID_PARAMETER;
    va_list args;
    va_start(args, format);
    int written = _vsnwprintf(buffer, characters - 1, format, args);
    va_end(args);
    if (written < 0 || size_t(written) > characters - 1) {
        buffer[characters - 1] = 0;
        return STATUS_BUFFER_OVERFLOW;
    }
    buffer[written] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS SetFriendlyName(PKSFILTERFACTORY factory, PCWSTR text)
{
    PUNICODE_STRING link = KsFilterFactoryGetSymbolicLink(factory);
    if (!link) return STATUS_INVALID_PARAMETER;

    const size_t characters = BoundedLength(text, kMaxNameBytes / sizeof(WCHAR));
    const ULONG length = ULONG(characters * sizeof(WCHAR));
    if (characters == kMaxNameBytes / sizeof(WCHAR) || length == 0) return STATUS_INVALID_PARAMETER;

    // The text, its terminating zero and two more zero bytes.
    const ULONG size = length + 4;
    auto* copy = static_cast<PUCHAR>(ExAllocatePoolWithTag(PagedPool, size, kBufferTag));
    if (!copy) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(copy, size);
    RtlCopyMemory(copy, text, length);

    HANDLE key = nullptr;
    NTSTATUS status = IoOpenDeviceInterfaceRegistryKey(link, KEY_ALL_ACCESS, &key);
    if (NT_SUCCESS(status)) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, WIDE("FriendlyName"));
        status = ZwSetValueKey(key, &name, 0, REG_SZ, copy, size);
        ZwClose(key);
    }
    ExFreePoolWithTag(copy, kBufferTag);
    return status;
}

NTSTATUS ReadFriendlyName(PKSFILTERFACTORY factory, PWCHAR buffer, ULONG size)
{
    RtlZeroMemory(buffer, size);
    PUNICODE_STRING link = KsFilterFactoryGetSymbolicLink(factory);
    if (!link) return STATUS_INVALID_PARAMETER;

    HANDLE key = nullptr;
    NTSTATUS status = IoOpenDeviceInterfaceRegistryKey(link, KEY_ALL_ACCESS, &key);
    if (!NT_SUCCESS(status)) return status;

    const ULONG workSize = size + kValueInfoOverhead;
    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(ExAllocatePoolWithTag(PagedPool, workSize, kBufferTag));
    if (!info) {
        ZwClose(key);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, WIDE("FriendlyName"));
    ULONG returned = 0;
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, workSize, &returned);
    if (NT_SUCCESS(status) && info->Type == REG_SZ)
        RtlCopyMemory(buffer, info->Data, info->DataLength < size ? info->DataLength : size);
    ExFreePoolWithTag(info, kBufferTag);
    ZwClose(key);
    return status;
}

NTSTATUS PinNameHandler(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    auto* pinRequest = reinterpret_cast<PKSP_PIN>(request);
    PKSFILTER filter = KsGetFilterFromIrp(irp);
    UsbAudioDevice* device = DeviceOfFilter(filter);
    if (!IsEqualGUID(request->Set, KSPROPSETID_Pin) || request->Id != KSPROPERTY_PIN_NAME || !device)
        return STATUS_INVALID_PARAMETER;

    irp->IoStatus.Information = 0;
    // With at most one port per direction a MIDI pin has no name of its own.
    MidiPort* port = device->PortForPin(pinRequest->PinId);
    if ((device->MidiPinCount(0) < 2 && device->MidiPinCount(1) < 2) || !port) return STATUS_SUCCESS;

    auto* name = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, kPinNameBufferBytes, kBufferTag));
    if (!name) return STATUS_INSUFFICIENT_RESOURCES;
    const size_t capacity = kPinNameBufferBytes / sizeof(WCHAR);

    NTSTATUS readStatus = ReadFriendlyName(KsFilterGetParentFilterFactory(filter), name, kFriendlyNameReadBytes);
    size_t characters = BoundedLength(name, kMaxFriendlyNameCharacters);
    if (characters == kMaxFriendlyNameCharacters) {
        ExFreePoolWithTag(name, kBufferTag);
        return STATUS_INVALID_PARAMETER;
    }
    FormatIntoBuffer(name + characters, capacity - characters, WIDE(": Port %d"), int(port->Cable() + 1));
    characters = BoundedLength(name, capacity);

    const ULONG required = ULONG((characters + 1) * sizeof(WCHAR));
    const ULONG outputLength = OutputLength(irp);
    if (data) {
        ULONG copyCharacters = outputLength / sizeof(WCHAR);
        if (copyCharacters > characters + 1) copyCharacters = ULONG(characters + 1);
        RtlCopyMemory(data, name, copyCharacters * sizeof(WCHAR));
    }
    irp->IoStatus.Information = required;
    ExFreePoolWithTag(name, kBufferTag);

    if (!NT_SUCCESS(readStatus)) return readStatus;
    return outputLength < required ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS UrbSizeHandler(PIRP irp, PKSIDENTIFIER request, PVOID data)
{
    if (!IsEqualGUID(request->Set, KSPROPSETID_DeviceSettings)) return STATUS_NOT_IMPLEMENTED;
    if (request->Id != KSPROPERTY_DEVICESETTINGS_URBSIZE) return STATUS_INVALID_PARAMETER;
    UsbAudioDevice* device = DeviceOfFilter(KsGetFilterFromIrp(irp));
    if (!device || !data) return STATUS_INVALID_PARAMETER;

    auto* value = static_cast<PULONG>(data);
    if (request->Flags & KSPROPERTY_TYPE_SET) {
        irp->IoStatus.Information = 0;
        return device->SetUrbSize(*value);
    }
    *value = device->GetUrbSize();
    irp->IoStatus.Information = sizeof(ULONG);
    return STATUS_SUCCESS;
}
