// IOCTL_KS_PROPERTY: capture the caller's buffers, find the automation-table
// item or the standard answer, check sizes, call the handler, hand back the
// result.
//
// The request arrives METHOD_NEITHER: Type3InputBuffer is the KSPROPERTY (or
// a longer request), UserBuffer the value for both get and set. Both are the
// caller's memory of any length and alignment; nothing is read from them
// before their lengths are checked, and handlers see aligned copies.
#include "km/ksstandardproperties.h"
#include "km/verifier.h"

#include <cstring>

namespace kmsim::ks {
namespace {

const KSPROPERTY_ITEM* FindItem(const KSAUTOMATION_TABLE* table, const GUID& set, ULONG id, bool* setFound)
{
    *setFound = false;
    if (!table || !table->PropertySets) return nullptr;
    ULONG stride = table->PropertyItemSize ? table->PropertyItemSize : ULONG(sizeof(KSPROPERTY_ITEM));
    if (stride < sizeof(KSPROPERTY_ITEM)) {
        ReportViolation("ks", "automation table with PropertyItemSize " + std::to_string(stride) +
                                  ", smaller than a KSPROPERTY_ITEM");
        return nullptr;
    }
    for (ULONG s = 0; s < table->PropertySetsCount; ++s) {
        const KSPROPERTY_SET& propertySet = table->PropertySets[s];
        if (!propertySet.Set || !IsEqualGUID(*propertySet.Set, set)) continue;
        *setFound = true;
        const auto* items = reinterpret_cast<const uint8_t*>(propertySet.PropertyItem);
        for (ULONG i = 0; items && i < propertySet.PropertiesCount; ++i) {
            const auto* item = reinterpret_cast<const KSPROPERTY_ITEM*>(items + size_t(i) * stride);
            if (item->PropertyId == id) return item;
        }
    }
    return nullptr;
}

// Basic support without a support handler: the access flags as a ULONG, or a
// KSPROPERTY_DESCRIPTION when there is room for one, or nothing at all.
NTSTATUS DefaultBasicSupport(PIRP irp, bool canGet, bool canSet, uint8_t* out, ULONG outBytes)
{
    ULONG access = KSPROPERTY_TYPE_BASICSUPPORT | (canGet ? KSPROPERTY_TYPE_GET : 0) | (canSet ? KSPROPERTY_TYPE_SET : 0);
    if (outBytes >= sizeof(KSPROPERTY_DESCRIPTION)) {
        KSPROPERTY_DESCRIPTION description{};
        description.AccessFlags = access;
        description.DescriptionSize = sizeof(description);
        memcpy(out, &description, sizeof(description));
        irp->IoStatus.Information = sizeof(description);
    } else if (outBytes >= sizeof(ULONG)) {
        memcpy(out, &access, sizeof(access));
        irp->IoStatus.Information = sizeof(ULONG);
    } else {
        irp->IoStatus.Information = 0;
    }
    return STATUS_SUCCESS;
}

// Length 0 asks for the size; a too-small buffer gets the size and an error.
NTSTATUS ReturnValue(PIRP irp, const std::vector<uint8_t>& value, uint8_t* out, ULONG outBytes)
{
    ULONG needed = ULONG(value.size());
    irp->IoStatus.Information = needed;
    if (needed == 0) return STATUS_SUCCESS;
    if (outBytes == 0) return STATUS_BUFFER_OVERFLOW;
    if (outBytes < needed) return STATUS_BUFFER_TOO_SMALL;
    memcpy(out, value.data(), needed);
    return STATUS_SUCCESS;
}

NTSTATUS CallDriverItem(PIRP irp, const KSPROPERTY_ITEM* item, std::vector<uint64_t>& request, ULONG requestBytes,
                        uint8_t* userOut, ULONG outBytes, ULONG type)
{
    ULONG minProperty = item->MinProperty > sizeof(KSPROPERTY) ? item->MinProperty : ULONG(sizeof(KSPROPERTY));
    if (requestBytes < minProperty) return STATUS_BUFFER_TOO_SMALL;
    auto* identifier = reinterpret_cast<PKSIDENTIFIER>(request.data());

    std::vector<uint64_t> data((outBytes + 7) / 8);
    uint8_t* value = outBytes ? reinterpret_cast<uint8_t*>(data.data()) : nullptr;
    PFNKSHANDLER handler = nullptr;
    if (type == KSPROPERTY_TYPE_BASICSUPPORT) {
        if (!item->SupportHandler) {
            return DefaultBasicSupport(irp, item->GetPropertyHandler != nullptr, item->SetPropertyHandler != nullptr,
                                       userOut, outBytes);
        }
        handler = item->SupportHandler;
    } else {
        handler = type == KSPROPERTY_TYPE_GET ? item->GetPropertyHandler : item->SetPropertyHandler;
        if (!handler) return STATUS_INVALID_DEVICE_REQUEST;
        if (outBytes < item->MinData) {
            irp->IoStatus.Information = item->MinData;
            return outBytes == 0 && type == KSPROPERTY_TYPE_GET ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
        }
        if (type == KSPROPERTY_TYPE_SET && outBytes) memcpy(value, userOut, outBytes);
    }
    irp->IoStatus.Information = type == KSPROPERTY_TYPE_GET ? item->MinData : 0;
    NTSTATUS status = handler(irp, identifier, value);
    ULONG_PTR reported = irp->IoStatus.Information;
    if (reported > outBytes && status != STATUS_BUFFER_OVERFLOW && NT_SUCCESS(status)) {
        ReportViolation("ks", "property handler reported " + std::to_string(reported) + " bytes for a buffer of " +
                                  std::to_string(outBytes));
        irp->IoStatus.Information = reported = outBytes;
    }
    if (type != KSPROPERTY_TYPE_SET && !NT_ERROR(status) && outBytes) {
        memcpy(userOut, value, reported < outBytes ? reported : outBytes);
    }
    return status;
}

NTSTATUS CallStandard(const StandardProperty* standard, const PropertyContext& context, uint8_t* userOut,
                      ULONG outBytes, ULONG type)
{
    PIRP irp = context.irp;
    if (context.requestBytes < standard->minProperty) return STATUS_BUFFER_TOO_SMALL;
    if (type == KSPROPERTY_TYPE_BASICSUPPORT) {
        return DefaultBasicSupport(irp, standard->get != nullptr, standard->put != nullptr, userOut, outBytes);
    }
    if (type == KSPROPERTY_TYPE_SET) {
        if (!standard->put) return STATUS_INVALID_DEVICE_REQUEST;
        if (outBytes < standard->minData) return STATUS_BUFFER_TOO_SMALL;
        std::vector<uint64_t> data((outBytes + 7) / 8);
        memcpy(data.data(), userOut, outBytes);
        return standard->put(context, reinterpret_cast<const uint8_t*>(data.data()), outBytes);
    }
    if (!standard->get) return STATUS_INVALID_DEVICE_REQUEST;
    std::vector<uint8_t> value;
    NTSTATUS status = standard->get(context, &value);
    if (!NT_SUCCESS(status)) return status;
    return ReturnValue(irp, value, userOut, outBytes);
}

}  // namespace

NTSTATUS DispatchProperty(PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const auto* userRequest = static_cast<const uint8_t*>(sp->Parameters.DeviceIoControl.Type3InputBuffer);
    ULONG requestBytes = sp->Parameters.DeviceIoControl.InputBufferLength;
    auto* userOut = static_cast<uint8_t*>(irp->UserBuffer);
    ULONG outBytes = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (!userRequest || requestBytes < sizeof(KSPROPERTY)) return STATUS_INVALID_PARAMETER;
    if (outBytes && !userOut) return STATUS_INVALID_PARAMETER;

    Filter* filter = FilterOfFileObject(sp->FileObject);
    Pin* pin = PinOfFileObject(sp->FileObject);
    if (!filter) return STATUS_INVALID_DEVICE_REQUEST;

    std::vector<uint64_t> request((requestBytes + 7) / 8);
    memcpy(request.data(), userRequest, requestBytes);
    KSPROPERTY property;
    memcpy(&property, request.data(), sizeof(property));
    ULONG type = property.Flags & ~ULONG(KSPROPERTY_TYPE_TOPOLOGY);
    if (type != KSPROPERTY_TYPE_GET && type != KSPROPERTY_TYPE_SET && type != KSPROPERTY_TYPE_BASICSUPPORT) {
        return STATUS_INVALID_PARAMETER;
    }

    bool setFound = false;
    const KSPROPERTY_ITEM* item = FindItem(AutomationTableOf(filter, pin), property.Set, property.Id, &setFound);
    if (item) return CallDriverItem(irp, item, request, requestBytes, userOut, outBytes, type);

    const StandardProperty* standard = FindStandardProperty(property.Set, property.Id, pin != nullptr);
    if (!standard) return STATUS_NOT_FOUND;
    PropertyContext context;
    context.irp = irp;
    context.filter = filter;
    context.pin = pin;
    context.request = reinterpret_cast<const uint8_t*>(request.data());
    context.requestBytes = requestBytes;
    return CallStandard(standard, context, userOut, outBytes, type);
}

}  // namespace kmsim::ks
