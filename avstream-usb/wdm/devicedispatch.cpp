#include "devicedispatch.h"

#include "filterdescriptor.h"
#include "filterproperties.h"
#include "usbaudiodevice.h"
#include "widetext.h"

namespace {

constexpr USHORT kEnglishUs = 0x0409;
constexpr ULONG kProductStringBytes = 64;

UsbAudioDevice* DeviceOf(PKSDEVICE device)
{
    return static_cast<UsbAudioDevice*>(device->Context);
}

void DestroyUsbAudioDevice(PVOID context)
{
    delete static_cast<UsbAudioDevice*>(context);
}

NTSTATUS Add(PKSDEVICE device)
{
    auto* context = new UsbAudioDevice(device);
    if (!context) return STATUS_INSUFFICIENT_RESOURCES;
    // Without its descriptor the device could never publish a filter.
    if (!context->FilterDescriptor()) {
        delete context;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = KsAddItemToObjectBag(device->Bag, context, DestroyUsbAudioDevice);
    if (!NT_SUCCESS(status)) {
        delete context;
        return status;
    }
    device->Context = context;
    return STATUS_SUCCESS;
}

NTSTATUS PostStart(PKSDEVICE device)
{
    UsbAudioDevice* context = DeviceOf(device);
    NTSTATUS status = context->Usb().Configure(device->PhysicalDeviceObject);
    if (!NT_SUCCESS(status)) return status;

    status = context->Enumerate();
    if (!NT_SUCCESS(status)) {
        if (status == USBD_STATUS_NO_BANDWIDTH)
            DbgPrint("mrvusbaudio.sys : Enumerate() failed with error USBD_STATUS_NO_BANDWIDTH\n");
        else
            DbgPrint("mrvusbaudio.sys : Enumerate() failed with error %x\n", unsigned(status));
        return status;
    }

    KsAcquireDevice(device);
    PKSFILTERFACTORY factory = nullptr;
    WCHAR referenceString[] = WIDE("GLOBAL");
    NTSTATUS factoryStatus =
        KsCreateFilterFactory(device->FunctionalDeviceObject, context->FilterDescriptor()->Descriptor(),
                              referenceString, nullptr, 0, nullptr, nullptr, &factory);
    if (NT_SUCCESS(factoryStatus) && factory) {
        WCHAR product[kProductStringBytes / sizeof(WCHAR)] = {};
        // A product string cut to the buffer is still a good name.
        NTSTATUS nameStatus = context->Usb().GetStringDescriptor(context->Usb().DeviceDescriptor().iProduct,
                                                                 product, sizeof(product), kEnglishUs);
        if (!NT_ERROR(nameStatus) && product[0] != 0) SetFriendlyName(factory, product);
    }
    KsReleaseDevice(device);

    // A device whose filter could not be created has nothing to offer.
    return NT_SUCCESS(factoryStatus) ? status : factoryStatus;
}

void Remove(PKSDEVICE device, PIRP)
{
    if (UsbAudioDevice* context = DeviceOf(device)) context->Remove();
}

NTSTATUS QueryCapabilities(PKSDEVICE, PIRP, PDEVICE_CAPABILITIES capabilities)
{
    capabilities->SurpriseRemovalOK = TRUE;
    return STATUS_SUCCESS;
}

void SetPower(PKSDEVICE device, PIRP, DEVICE_POWER_STATE to, DEVICE_POWER_STATE)
{
    UsbAudioDevice* context = DeviceOf(device);
    if (!context) return;
    if (to == PowerDeviceD0)
        context->PowerUp();
    else if (to == PowerDeviceD3)
        context->PowerDown();
}

}  // namespace

const KSDEVICE_DISPATCH UsbAudioDeviceDispatch = {
    .Add = Add,
    .Start = nullptr,
    .PostStart = PostStart,
    .QueryStop = nullptr,
    .CancelStop = nullptr,
    .Stop = nullptr,
    .QueryRemove = nullptr,
    .CancelRemove = nullptr,
    .Remove = Remove,
    .QueryCapabilities = QueryCapabilities,
    .SurpriseRemoval = nullptr,
    .QueryPower = nullptr,
    .SetPower = SetPower,
    .QueryInterface = nullptr,
};
