// Opening and closing filters and pins, and pin state changes.
#include "km/kscreaterequest.h"
#include "km/ksdevice.h"
#include "km/ksintersection.h"
#include "km/ksobjects.h"
#include "km/verifier.h"

#include <algorithm>
#include <cstring>

namespace kmsim::ks {
namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

bool SameNameIgnoringCase(const UNICODE_STRING& name, const std::u16string& expected)
{
    size_t length = name.Length / sizeof(WCHAR);
    if (length != expected.size() || (length && !name.Buffer)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (Lower(name.Buffer[i]) != Lower(expected[i])) return false;
    }
    return true;
}

const KSPIN_DESCRIPTOR_EX* PinDescriptor(const KSFILTER_DESCRIPTOR* descriptor, ULONG id)
{
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(reinterpret_cast<const uint8_t*>(descriptor->PinDescriptors) +
                                                        size_t(id) * descriptor->PinDescriptorSize);
}

bool SameIdentifier(const KSIDENTIFIER& a, const KSIDENTIFIER& b)
{
    return IsEqualGUID(a.Set, b.Set) && a.Id == b.Id;
}

// The descriptor's interfaces (or mediums), or the standard one when it
// lists none.
bool IdentifierOffered(const KSIDENTIFIER& wanted, ULONG count, const KSIDENTIFIER* list, const GUID& standardSet,
                       ULONG standardId)
{
    if (count == 0 || !list) return IsEqualGUID(wanted.Set, standardSet) && wanted.Id == standardId;
    for (ULONG i = 0; i < count; ++i) {
        if (SameIdentifier(wanted, list[i])) return true;
    }
    return false;
}

// A close request for objects the class driver closes on its own (device
// removal, a filter closed under its pins): the minidriver's Close sees an
// IRP like the one a client's close would bring.
class OwnCloseIrp {
public:
    OwnCloseIrp(PFILE_OBJECT fileObject, PDEVICE_OBJECT deviceObject)
    {
        irp_ = IoAllocateIrp(1, FALSE);
        if (!irp_) return;
        IoSetNextIrpStackLocation(irp_);
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp_);
        sp->MajorFunction = IRP_MJ_CLOSE;
        sp->FileObject = fileObject;
        sp->DeviceObject = deviceObject;
    }
    ~OwnCloseIrp()
    {
        if (irp_) IoFreeIrp(irp_);
    }
    OwnCloseIrp(const OwnCloseIrp&) = delete;
    OwnCloseIrp& operator=(const OwnCloseIrp&) = delete;
    PIRP get() const { return irp_; }

private:
    PIRP irp_ = nullptr;
};

void ForgetPin(Pin* pin)
{
    {
        std::lock_guard lock(TreeLock());
        std::erase(pin->filter->pins, pin);
    }
    if (pin->fileObject) pin->fileObject->FsContext = nullptr;
    FreeObjectBag(pin->bag);
    UnregisterObject(pin);
    delete pin;
}

NTSTATUS CreateFilter(Device* device, PIRP irp, PFILE_OBJECT fileObject)
{
    std::lock_guard deviceLock(device->mutex);
    if (!device->ks.Started || device->removed) return STATUS_DEVICE_NOT_READY;
    Factory* factory = nullptr;
    {
        std::lock_guard lock(TreeLock());
        for (Factory* candidate : device->factories) {
            std::u16string expected = candidate->reference.empty() ? u"" : u"\\" + candidate->reference;
            if (SameNameIgnoringCase(fileObject->FileName, expected)) {
                factory = candidate;
                break;
            }
        }
    }
    if (!factory) return STATUS_OBJECT_NAME_NOT_FOUND;

    auto* filter = new Filter;
    filter->ks.Descriptor = factory->ks.FilterDescriptor;
    filter->ks.Bag = &filter->bag;
    filter->factory = factory;
    filter->fileObject = fileObject;
    RegisterObject(filter, Kind::Filter);
    fileObject->FsContext = filter;
    const KSFILTER_DISPATCH* dispatch = filter->ks.Descriptor->Dispatch;
    if (dispatch && dispatch->Create) {
        NTSTATUS status = dispatch->Create(&filter->ks, irp);
        if (!NT_SUCCESS(status)) {
            fileObject->FsContext = nullptr;
            FreeObjectBag(filter->bag);
            UnregisterObject(filter);
            delete filter;
            return status;
        }
    }
    std::lock_guard lock(TreeLock());
    factory->filters.push_back(filter);
    return STATUS_SUCCESS;
}

NTSTATUS CreatePin(PIRP irp, PFILE_OBJECT fileObject, Filter* filter)
{
    std::vector<uint64_t> request;
    if (!ParsePinCreateFileName(fileObject->FileName, &request)) return STATUS_INVALID_PARAMETER;
    KSPIN_CONNECT connect;
    memcpy(&connect, request.data(), sizeof(connect));
    const auto* format = reinterpret_cast<const KSDATAFORMAT*>(reinterpret_cast<const uint8_t*>(request.data()) +
                                                               sizeof(KSPIN_CONNECT));

    std::lock_guard control(filter->control);
    const KSFILTER_DESCRIPTOR* descriptor = filter->ks.Descriptor;
    if (connect.PinId >= descriptor->PinDescriptorsCount) return STATUS_INVALID_PARAMETER;
    const KSPIN_DESCRIPTOR_EX* pinDescriptor = PinDescriptor(descriptor, connect.PinId);
    const KSPIN_DESCRIPTOR& pd = pinDescriptor->PinDescriptor;

    // Only sink pins take connections from outside; nothing here connects
    // one pin to another, so PinToHandle must be empty.
    if (pd.Communication != KSPIN_COMMUNICATION_SINK && pd.Communication != KSPIN_COMMUNICATION_BOTH) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (connect.PinToHandle) return STATUS_INVALID_PARAMETER;
    if (!IdentifierOffered(connect.Interface, pd.InterfacesCount, pd.Interfaces, KSINTERFACESETID_Standard,
                           KSINTERFACE_STANDARD_STREAMING) ||
        !IdentifierOffered(connect.Medium, pd.MediumsCount, pd.Mediums, KSMEDIUMSETID_Standard,
                           KSMEDIUM_TYPE_ANYINSTANCE)) {
        return STATUS_NO_MATCH;
    }
    if (pinDescriptor->InstancesPossible != KSINSTANCE_INDETERMINATE &&
        KsFilterGetChildPinCount(&filter->ks, connect.PinId) >= pinDescriptor->InstancesPossible) {
        return STATUS_DEVICE_BUSY;
    }
    ULONG formatBytes = ULONG(request.size() * sizeof(uint64_t) - sizeof(KSPIN_CONNECT));
    const KSDATARANGE* matched = nullptr;
    for (ULONG i = 0; pd.DataRanges && i < pd.DataRangesCount && !matched; ++i) {
        if (FormatMatchesRange(format, formatBytes, pd.DataRanges[i])) matched = pd.DataRanges[i];
    }
    if (!matched) return STATUS_NO_MATCH;

    auto* pin = new Pin;
    pin->filter = filter;
    pin->fileObject = fileObject;
    pin->format.assign((format->FormatSize + 7) / 8, 0);
    memcpy(pin->format.data(), format, format->FormatSize);
    pin->ks.Descriptor = pinDescriptor;
    pin->ks.Bag = &pin->bag;
    pin->ks.Id = connect.PinId;
    pin->ks.Communication = KSPIN_COMMUNICATION_SINK;
    pin->ks.ConnectionIsExternal = FALSE;
    pin->ks.ConnectionInterface = connect.Interface;
    pin->ks.ConnectionMedium = connect.Medium;
    pin->ks.ConnectionPriority = connect.Priority;
    pin->ks.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(pin->format.data());
    pin->ks.StreamHeaderSize = sizeof(KSSTREAM_HEADER);
    pin->ks.DataFlow = pd.DataFlow;
    pin->ks.DeviceState = KSSTATE_STOP;
    pin->ks.ResetState = KSRESET_END;
    pin->ks.ClientState = KSSTATE_STOP;
    RegisterObject(pin, Kind::Pin);
    fileObject->FsContext = pin;

    const KSPIN_DISPATCH* dispatch = pinDescriptor->Dispatch;
    NTSTATUS status = STATUS_SUCCESS;
    if (dispatch && dispatch->SetDataFormat) status = dispatch->SetDataFormat(&pin->ks, nullptr, nullptr, matched, nullptr);
    if (NT_SUCCESS(status) && dispatch && dispatch->Create) status = dispatch->Create(&pin->ks, irp);
    if (!NT_SUCCESS(status)) {
        fileObject->FsContext = nullptr;
        FreeObjectBag(pin->bag);
        UnregisterObject(pin);
        delete pin;
        return status;
    }
    std::lock_guard lock(TreeLock());
    filter->pins.push_back(pin);
    return STATUS_SUCCESS;
}

// Processing runs on other threads than state changes and reads DeviceState
// under the pin's process guard.
void PublishDeviceState(Pin* pin, KSSTATE state)
{
    std::lock_guard guard(pin->queue.processGuard);
    pin->ks.DeviceState = state;
}

}  // namespace

const KSAUTOMATION_TABLE* AutomationTableOf(Filter* filter, Pin* pin)
{
    if (pin) return pin->ks.Descriptor->AutomationTable;
    return filter ? filter->ks.Descriptor->AutomationTable : nullptr;
}

NTSTATUS DispatchCreate(Device* device, PIRP irp)
{
    PFILE_OBJECT fileObject = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (!fileObject) return STATUS_INVALID_PARAMETER;
    if (!fileObject->RelatedFileObject) return CreateFilter(device, irp, fileObject);
    Kind kind;
    PVOID parent = fileObject->RelatedFileObject->FsContext;
    if (!parent || !KindOf(parent, &kind) || kind != Kind::Filter) return STATUS_INVALID_DEVICE_REQUEST;
    auto* filter = static_cast<Filter*>(parent);
    if (filter->factory->device != device) return STATUS_INVALID_DEVICE_REQUEST;
    return CreatePin(irp, fileObject, filter);
}

NTSTATUS DispatchClose(PIRP irp)
{
    PFILE_OBJECT fileObject = IoGetCurrentIrpStackLocation(irp)->FileObject;
    Kind kind;
    if (!fileObject || !fileObject->FsContext || !KindOf(fileObject->FsContext, &kind)) return STATUS_INVALID_HANDLE;
    if (kind == Kind::Pin) {
        DestroyPin(static_cast<Pin*>(fileObject->FsContext), irp);
    } else if (kind == Kind::Filter) {
        DestroyFilter(static_cast<Filter*>(fileObject->FsContext), irp);
    } else {
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}

void DestroyPin(Pin* pin, PIRP closeIrp)
{
    Filter* filter = pin->filter;
    std::lock_guard control(filter->control);
    // A pin closed while running is stepped down first, as a client would.
    if (!NT_SUCCESS(ChangePinState(pin, KSSTATE_STOP))) {
        pin->ks.ClientState = KSSTATE_STOP;
        PublishDeviceState(pin, KSSTATE_STOP);
        FlushStreamQueue(pin);
    }
    ForgetAsynchronousProcessing(pin);
    const KSPIN_DISPATCH* dispatch = pin->ks.Descriptor->Dispatch;
    if (dispatch && dispatch->Close) {
        if (closeIrp) {
            dispatch->Close(&pin->ks, closeIrp);
        } else {
            OwnCloseIrp own(pin->fileObject, filter->factory->device->ks.FunctionalDeviceObject);
            dispatch->Close(&pin->ks, own.get());
        }
    }
    // Until its Close the minidriver could still ask to process the pin
    // (a MIDI listener hearing input does); none of that may outlive it.
    ForgetAsynchronousProcessing(pin);
    RemoveEventsOf(pin->events, nullptr);
    ForgetPin(pin);
}

void DestroyFilter(Filter* filter, PIRP closeIrp)
{
    // The filter list changes under the device mutex, so a minidriver that
    // walks the filters holding it sees none go.
    std::lock_guard deviceLock(filter->factory->device->mutex);
    {
        std::lock_guard control(filter->control);
        for (;;) {
            Pin* pin = nullptr;
            {
                std::lock_guard lock(TreeLock());
                if (filter->pins.empty()) break;
                pin = filter->pins.back();
            }
            DestroyPin(pin, nullptr);
        }
        const KSFILTER_DISPATCH* dispatch = filter->ks.Descriptor->Dispatch;
        if (dispatch && dispatch->Close) {
            if (closeIrp) {
                dispatch->Close(&filter->ks, closeIrp);
            } else {
                OwnCloseIrp own(filter->fileObject, filter->factory->device->ks.FunctionalDeviceObject);
                dispatch->Close(&filter->ks, own.get());
            }
        }
        RemoveEventsOf(filter->events, nullptr);
    }
    {
        std::lock_guard lock(TreeLock());
        std::erase(filter->factory->filters, filter);
    }
    if (filter->fileObject) filter->fileObject->FsContext = nullptr;
    FreeObjectBag(filter->bag);
    UnregisterObject(filter);
    delete filter;
}

NTSTATUS ChangePinState(Pin* pin, KSSTATE target)
{
    if (target < KSSTATE_STOP || target > KSSTATE_RUN) return STATUS_INVALID_PARAMETER;
    std::lock_guard control(pin->filter->control);
    pin->ks.ClientState = target;
    const KSPIN_DISPATCH* dispatch = pin->ks.Descriptor->Dispatch;
    while (pin->ks.DeviceState != target) {
        KSSTATE from = pin->ks.DeviceState;
        KSSTATE to = KSSTATE(from < target ? from + 1 : from - 1);
        if (dispatch && dispatch->SetDeviceState) {
            NTSTATUS status = dispatch->SetDeviceState(&pin->ks, to, from);
            if (!NT_SUCCESS(status)) {
                pin->ks.ClientState = pin->ks.DeviceState;
                return status;
            }
        }
        PublishDeviceState(pin, to);
        // Stopping ends every request still queued.
        if (to == KSSTATE_STOP) FlushStreamQueue(pin);
    }
    if (target != KSSTATE_STOP && !(pin->ks.Descriptor->Flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING) &&
        HasQueuedFrames(pin)) {
        ProcessPin(pin);
    }
    return STATUS_SUCCESS;
}

}  // namespace kmsim::ks
