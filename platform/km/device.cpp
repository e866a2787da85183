// Device objects and device stacks.
#include <wdm.h>

#include "km/verifier.h"

#include <cstdio>
#include <map>
#include <mutex>

namespace {

constexpr ULONG kDeviceTag = kmsim::MakeTag('D', 'e', 'v', 'i');
constexpr SHORT kIoTypeDevice = 3;
// The extension follows the object, aligned for any member it may hold.
constexpr size_t kExtensionAlignment = 16;

struct DeviceStacks {
    // Guards the stacks and every driver's list of device objects, which
    // devices of one driver created and deleted on different threads share.
    std::mutex mutex;
    std::map<PDEVICE_OBJECT, PDEVICE_OBJECT> attachedTo;  // device -> the device below it
};

DeviceStacks& TheStacks()
{
    static DeviceStacks* stacks = new DeviceStacks;
    return *stacks;
}

std::string Named(const char* routine, PDEVICE_OBJECT device)
{
    char text[96];
    snprintf(text, sizeof text, "%s(device %p)", routine, (void*)device);
    return text;
}

}  // namespace

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                        DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject)
{
    UNREFERENCED_PARAMETER(DeviceName);
    UNREFERENCED_PARAMETER(Exclusive);
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql", "IoCreateDevice at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    if (!DriverObject || !DeviceObject) return STATUS_INVALID_PARAMETER;
    *DeviceObject = NULL;
    size_t objectSize = (sizeof(DEVICE_OBJECT) + kExtensionAlignment - 1) / kExtensionAlignment * kExtensionAlignment;
    size_t total = objectSize + DeviceExtensionSize;
    auto device = static_cast<PDEVICE_OBJECT>(ExAllocatePoolWithTag(NonPagedPool, total, kDeviceTag));
    if (!device) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(device, total);
    device->Type = kIoTypeDevice;
    device->Size = USHORT(sizeof(DEVICE_OBJECT) + DeviceExtensionSize);
    device->DriverObject = DriverObject;
    device->Flags = DO_DEVICE_INITIALIZING;
    device->Characteristics = DeviceCharacteristics;
    device->DeviceExtension = DeviceExtensionSize ? reinterpret_cast<PUCHAR>(device) + objectSize : NULL;
    device->DeviceType = DeviceType;
    device->StackSize = 1;
    {
        std::lock_guard lock(TheStacks().mutex);
        device->NextDevice = DriverObject->DeviceObject;
        DriverObject->DeviceObject = device;
    }
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT DeviceObject)
{
    if (!DeviceObject) {
        kmsim::ReportViolation("device", "IoDeleteDevice(NULL)");
        return;
    }
    {
        DeviceStacks& stacks = TheStacks();
        std::unique_lock lock(stacks.mutex);
        if (stacks.attachedTo.count(DeviceObject)) {
            lock.unlock();
            kmsim::ReportViolation("device", Named("IoDeleteDevice", DeviceObject) +
                                                 ": still attached to a lower device; IoDetachDevice first");
            return;
        }
    }
    if (DeviceObject->AttachedDevice) {
        kmsim::ReportViolation("device", Named("IoDeleteDevice", DeviceObject) +
                                             ": another device is still attached above it");
        return;
    }
    if (PDRIVER_OBJECT driver = DeviceObject->DriverObject) {
        std::lock_guard lock(TheStacks().mutex);
        for (PDEVICE_OBJECT* link = &driver->DeviceObject; *link; link = &(*link)->NextDevice) {
            if (*link == DeviceObject) {
                *link = DeviceObject->NextDevice;
                break;
            }
        }
    }
    ExFreePoolWithTag(DeviceObject, kDeviceTag);
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice)
{
    if (!SourceDevice || !TargetDevice) return NULL;
    DeviceStacks& stacks = TheStacks();
    std::unique_lock lock(stacks.mutex);
    if (stacks.attachedTo.count(SourceDevice)) {
        lock.unlock();
        kmsim::ReportViolation("device", Named("IoAttachDeviceToDeviceStack", SourceDevice) +
                                             ": the device is already attached to a stack");
        return NULL;
    }
    PDEVICE_OBJECT top = TargetDevice;
    while (top->AttachedDevice) top = top->AttachedDevice;
    top->AttachedDevice = SourceDevice;
    SourceDevice->StackSize = CCHAR(top->StackSize + 1);
    if (top->AlignmentRequirement > SourceDevice->AlignmentRequirement) {
        SourceDevice->AlignmentRequirement = top->AlignmentRequirement;
    }
    stacks.attachedTo[SourceDevice] = top;
    return top;
}

void IoDetachDevice(PDEVICE_OBJECT TargetDevice)
{
    if (!TargetDevice || !TargetDevice->AttachedDevice) {
        kmsim::ReportViolation("device", Named("IoDetachDevice", TargetDevice) + ": nothing is attached to it");
        return;
    }
    DeviceStacks& stacks = TheStacks();
    std::lock_guard lock(stacks.mutex);
    stacks.attachedTo.erase(TargetDevice->AttachedDevice);
    TargetDevice->AttachedDevice = NULL;
}
