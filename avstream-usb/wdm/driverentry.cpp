// Driver entry: the driver-wide parameters and the kernel-streaming device
// descriptor.
#include "devicedispatch.h"
#include "driverglobals.h"
#include "kernelobject.h"
#include "registry.h"
#include "widetext.h"

namespace {

constexpr ULONG kKeyPathBytes = 260;
constexpr WCHAR kParametersSuffix[] = WIDE("\\Parameters");

const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {
    .Dispatch = &UsbAudioDeviceDispatch,
    .FilterDescriptorsCount = 0,
    .FilterDescriptors = nullptr,
    .Version = 0,
};

PDRIVER_UNLOAD SavedUnload = nullptr;

void UnloadWrapper(PDRIVER_OBJECT driver)
{
    PDRIVER_UNLOAD unload = SavedUnload;
    SavedUnload = nullptr;
    if (unload) unload(driver);
}

// Reads DontHideKinetraPorts from the service's Parameters key; failures
// leave the default.
void ReadServiceParameters(PUNICODE_STRING registryPath)
{
    // A fresh load starts from the default, as a newly mapped image would.
    DontHideKinetraPorts = 0;
    WCHAR path[kKeyPathBytes / sizeof(WCHAR)] = {};
    const size_t suffix = sizeof(kParametersSuffix) / sizeof(WCHAR) - 1;
    const size_t length = registryPath ? registryPath->Length / sizeof(WCHAR) : 0;
    if (length == 0 || length + suffix + 1 > ARRAYSIZE(path)) return;
    RtlCopyMemory(path, registryPath->Buffer, length * sizeof(WCHAR));
    RtlCopyMemory(path + length, kParametersSuffix, suffix * sizeof(WCHAR));

    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, 0, nullptr, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, GENERIC_READ, &attributes))) return;
    ULONG value = 0;
    if (NT_SUCCESS(ReadDword(key, WIDE("DontHideKinetraPorts"), &value))) DontHideKinetraPorts = value;
    ZwClose(key);
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ReadServiceParameters(registryPath);
    NTSTATUS status = KsInitializeDriver(driver, registryPath, &kDeviceDescriptor);
    SavedUnload = driver->DriverUnload;
    driver->DriverUnload = UnloadWrapper;
    return status;
}
