// Standard properties answered from the filter and pin descriptors.
#include "km/ksstandardproperties.h"

#include "km/ksintersection.h"
#include "km/utf16.h"

#include <cstdio>
#include <cstring>

namespace kmsim::ks {
namespace {

template <typename T>
void Append(std::vector<uint8_t>* value, const T& item)
{
    size_t at = value->size();
    value->resize(at + sizeof(T));
    memcpy(value->data() + at, &item, sizeof(T));
}

template <typename T>
NTSTATUS Fixed(std::vector<uint8_t>* value, const T& item)
{
    value->clear();
    Append(value, item);
    return STATUS_SUCCESS;
}

void PadTo8(std::vector<uint8_t>* value) { value->resize((value->size() + 7) / 8 * 8, 0); }

// A KSMULTIPLE_ITEM header followed by the items; Size covers everything.
void MultipleItem(std::vector<uint8_t>* value, ULONG count)
{
    KSMULTIPLE_ITEM header{ULONG(value->size() + sizeof(KSMULTIPLE_ITEM)), count};
    std::vector<uint8_t> whole(sizeof(header));
    memcpy(whole.data(), &header, sizeof(header));
    whole.insert(whole.end(), value->begin(), value->end());
    value->swap(whole);
}

const KSFILTER_DESCRIPTOR* DescriptorOf(const PropertyContext& c) { return c.filter->ks.Descriptor; }

const KSPIN_DESCRIPTOR_EX* PinOf(const PropertyContext& c, ULONG id)
{
    const KSFILTER_DESCRIPTOR* d = DescriptorOf(c);
    return reinterpret_cast<const KSPIN_DESCRIPTOR_EX*>(reinterpret_cast<const uint8_t*>(d->PinDescriptors) +
                                                        size_t(id) * d->PinDescriptorSize);
}

// The pin a KSP_PIN request names, or null when the id is out of range.
const KSPIN_DESCRIPTOR_EX* RequestedPin(const PropertyContext& c, ULONG* id = nullptr)
{
    KSP_PIN request;
    memcpy(&request, c.request, sizeof(request));
    if (request.PinId >= DescriptorOf(c)->PinDescriptorsCount) return nullptr;
    if (id) *id = request.PinId;
    return PinOf(c, request.PinId);
}

const KSNODE_DESCRIPTOR* NodeOf(const PropertyContext& c, ULONG id)
{
    const KSFILTER_DESCRIPTOR* d = DescriptorOf(c);
    return reinterpret_cast<const KSNODE_DESCRIPTOR*>(reinterpret_cast<const uint8_t*>(d->NodeDescriptors) +
                                                      size_t(id) * d->NodeDescriptorSize);
}

ULONG PinInstances(Filter* filter, ULONG id) { return KsFilterGetChildPinCount(&filter->ks, id); }

std::string GuidKeyName(const GUID& guid)
{
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(guid.Data1),
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
             guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

// The display name registered for a category or name GUID under
// MediaCategories, as a zero-terminated WCHAR string.
NTSTATUS MediaCategoryName(const GUID& guid, std::vector<uint8_t>* value)
{
    std::u16string path = Utf8ToUtf16("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\MediaCategories\\" +
                                      GuidKeyName(guid));
    UNICODE_STRING pathString{USHORT(path.size() * 2), USHORT(path.size() * 2), path.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &pathString, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    NTSTATUS status = ZwOpenKey(&key, KEY_READ, &attributes);
    if (!NT_SUCCESS(status)) return STATUS_NOT_FOUND;
    std::u16string valueName = u"Name";
    UNICODE_STRING name{8, 8, valueName.data()};
    std::vector<uint64_t> buffer(64);
    ULONG needed = 0;
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer.data(), ULONG(buffer.size() * 8), &needed);
    if (status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL) {
        buffer.assign((needed + 7) / 8, 0);
        status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer.data(), ULONG(buffer.size() * 8), &needed);
    }
    ZwClose(key);
    if (!NT_SUCCESS(status)) return STATUS_NOT_FOUND;
    const auto* info = reinterpret_cast<const KEY_VALUE_PARTIAL_INFORMATION*>(buffer.data());
    if (info->Type != REG_SZ) return STATUS_NOT_FOUND;
    std::u16string text(info->DataLength / 2, u'\0');
    memcpy(text.data(), info->Data, text.size() * 2);
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    value->assign((text.size() + 1) * 2, 0);
    memcpy(value->data(), text.data(), text.size() * 2);
    return STATUS_SUCCESS;
}

// ---- KSPROPSETID_Pin ----------------------------------------------------------

NTSTATUS PinCount(const PropertyContext& c, std::vector<uint8_t>* value)
{
    return Fixed(value, ULONG(DescriptorOf(c)->PinDescriptorsCount));
}

NTSTATUS PinInstancesNow(const PropertyContext& c, std::vector<uint8_t>* value)
{
    ULONG id;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c, &id);
    if (!pin) return STATUS_INVALID_PARAMETER;
    return Fixed(value, KSPIN_CINSTANCES{pin->InstancesPossible, PinInstances(c.filter, id)});
}

NTSTATUS PinGlobalInstances(const PropertyContext& c, std::vector<uint8_t>* value)
{
    ULONG id;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c, &id);
    if (!pin) return STATUS_INVALID_PARAMETER;
    ULONG current = 0;
    {
        std::lock_guard lock(TreeLock());
        for (Filter* filter : c.filter->factory->filters) {
            for (Pin* open : filter->pins) current += open->ks.Id == id ? 1 : 0;
        }
    }
    return Fixed(value, KSPIN_CINSTANCES{pin->InstancesPossible, current});
}

NTSTATUS PinNecessaryInstances(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    return pin ? Fixed(value, ULONG(pin->InstancesNecessary)) : STATUS_INVALID_PARAMETER;
}

NTSTATUS PinDataFlow(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    return pin ? Fixed(value, pin->PinDescriptor.DataFlow) : STATUS_INVALID_PARAMETER;
}

NTSTATUS PinCommunication(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    return pin ? Fixed(value, pin->PinDescriptor.Communication) : STATUS_INVALID_PARAMETER;
}

// Each range starts on an 8-byte boundary.
NTSTATUS PinDataRanges(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    if (!pin) return STATUS_INVALID_PARAMETER;
    value->clear();
    const KSPIN_DESCRIPTOR& pd = pin->PinDescriptor;
    ULONG count = pd.DataRanges ? pd.DataRangesCount : 0;
    for (ULONG i = 0; i < count; ++i) {
        PadTo8(value);
        const auto* bytes = reinterpret_cast<const uint8_t*>(pd.DataRanges[i]);
        value->insert(value->end(), bytes, bytes + pd.DataRanges[i]->FormatSize);
    }
    MultipleItem(value, count);
    return STATUS_SUCCESS;
}

NTSTATUS IdentifierList(std::vector<uint8_t>* value, ULONG count, const KSIDENTIFIER* list, const GUID& standardSet,
                        ULONG standardId)
{
    value->clear();
    if (count == 0 || !list) {
        KSIDENTIFIER standard{};
        standard.Set = standardSet;
        standard.Id = standardId;
        Append(value, standard);
        count = 1;
    } else {
        for (ULONG i = 0; i < count; ++i) Append(value, list[i]);
    }
    MultipleItem(value, count);
    return STATUS_SUCCESS;
}

NTSTATUS PinInterfaces(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    if (!pin) return STATUS_INVALID_PARAMETER;
    return IdentifierList(value, pin->PinDescriptor.InterfacesCount, pin->PinDescriptor.Interfaces,
                          KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING);
}

NTSTATUS PinMediums(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    if (!pin) return STATUS_INVALID_PARAMETER;
    return IdentifierList(value, pin->PinDescriptor.MediumsCount, pin->PinDescriptor.Mediums, KSMEDIUMSETID_Standard,
                          KSMEDIUM_TYPE_ANYINSTANCE);
}

NTSTATUS PinCategory(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    if (!pin) return STATUS_INVALID_PARAMETER;
    if (!pin->PinDescriptor.Category) return STATUS_NOT_FOUND;
    return Fixed(value, *pin->PinDescriptor.Category);
}

NTSTATUS PinName(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c);
    if (!pin) return STATUS_INVALID_PARAMETER;
    const GUID* name = pin->PinDescriptor.Name ? pin->PinDescriptor.Name : pin->PinDescriptor.Category;
    if (!name) return STATUS_NOT_FOUND;
    return MediaCategoryName(*name, value);
}

NTSTATUS PinPhysicalConnection(const PropertyContext& c, std::vector<uint8_t>*)
{
    return RequestedPin(c) ? STATUS_NOT_FOUND : STATUS_INVALID_PARAMETER;
}

// KSP_PIN, then a KSMULTIPLE_ITEM of the caller's ranges.
NTSTATUS PinDataIntersection(const PropertyContext& c, std::vector<uint8_t>* value)
{
    ULONG id;
    const KSPIN_DESCRIPTOR_EX* pin = RequestedPin(c, &id);
    if (!pin) return STATUS_INVALID_PARAMETER;
    if (c.requestBytes < sizeof(KSP_PIN) + sizeof(KSMULTIPLE_ITEM)) return STATUS_BUFFER_TOO_SMALL;
    KSMULTIPLE_ITEM list;
    memcpy(&list, c.request + sizeof(KSP_PIN), sizeof(list));
    ULONG available = c.requestBytes - ULONG(sizeof(KSP_PIN));
    if (list.Size < sizeof(KSMULTIPLE_ITEM) || list.Size > available) return STATUS_INVALID_PARAMETER;
    const KSPIN_DESCRIPTOR& pd = pin->PinDescriptor;
    ULONG offset = sizeof(KSMULTIPLE_ITEM);
    const uint8_t* base = c.request + sizeof(KSP_PIN);
    for (ULONG i = 0; i < list.Count; ++i) {
        offset = (offset + 7) / 8 * 8;
        if (offset > list.Size || list.Size - offset < sizeof(KSDATARANGE)) return STATUS_INVALID_PARAMETER;
        const auto* caller = reinterpret_cast<const KSDATARANGE*>(base + offset);  // 8-aligned in the capture
        ULONG callerBytes = list.Size - offset;
        if (caller->FormatSize < sizeof(KSDATARANGE) || caller->FormatSize > callerBytes) return STATUS_INVALID_PARAMETER;
        for (ULONG r = 0; pd.DataRanges && r < pd.DataRangesCount; ++r) {
            if (IntersectRanges(caller, callerBytes, pd.DataRanges[r], value)) return STATUS_SUCCESS;
        }
        offset += caller->FormatSize;
    }
    return STATUS_NO_MATCH;
}

// ---- KSPROPSETID_Topology -----------------------------------------------------

NTSTATUS TopologyCategories(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSFILTER_DESCRIPTOR* d = DescriptorOf(c);
    value->clear();
    ULONG count = d->Categories ? d->CategoriesCount : 0;
    for (ULONG i = 0; i < count; ++i) Append(value, d->Categories[i]);
    MultipleItem(value, count);
    return STATUS_SUCCESS;
}

NTSTATUS TopologyNodes(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSFILTER_DESCRIPTOR* d = DescriptorOf(c);
    value->clear();
    ULONG count = d->NodeDescriptors ? d->NodeDescriptorsCount : 0;
    for (ULONG i = 0; i < count; ++i) {
        const GUID* type = NodeOf(c, i)->Type;
        Append(value, type ? *type : GUID_NULL);
    }
    MultipleItem(value, count);
    return STATUS_SUCCESS;
}

NTSTATUS TopologyConnections(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSFILTER_DESCRIPTOR* d = DescriptorOf(c);
    value->clear();
    ULONG count = d->Connections ? d->ConnectionsCount : 0;
    for (ULONG i = 0; i < count; ++i) Append(value, d->Connections[i]);
    MultipleItem(value, count);
    return STATUS_SUCCESS;
}

NTSTATUS TopologyName(const PropertyContext& c, std::vector<uint8_t>* value)
{
    KSP_NODE request;
    memcpy(&request, c.request, sizeof(request));
    const KSFILTER_DESCRIPTOR* d = DescriptorOf(c);
    if (!d->NodeDescriptors || request.NodeId >= d->NodeDescriptorsCount) return STATUS_INVALID_PARAMETER;
    const KSNODE_DESCRIPTOR* node = NodeOf(c, request.NodeId);
    const GUID* name = node->Name ? node->Name : node->Type;
    if (!name) return STATUS_NOT_FOUND;
    return MediaCategoryName(*name, value);
}

// ---- KSPROPSETID_General ------------------------------------------------------

NTSTATUS ComponentId(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const KSCOMPONENTID* id = DescriptorOf(c)->ComponentId;
    return id ? Fixed(value, *id) : STATUS_NOT_FOUND;
}

// ---- KSPROPSETID_Connection (pins) --------------------------------------------

NTSTATUS GetState(const PropertyContext& c, std::vector<uint8_t>* value) { return Fixed(value, c.pin->ks.ClientState); }

NTSTATUS SetState(const PropertyContext& c, const uint8_t* data, ULONG)
{
    // Read as a number first: a value outside the enumeration is the
    // caller's mistake, not a KSSTATE.
    ULONG state;
    memcpy(&state, data, sizeof(state));
    if (state > KSSTATE_RUN) return STATUS_INVALID_PARAMETER;
    return ChangePinState(c.pin, KSSTATE(state));
}

NTSTATUS GetDataFormat(const PropertyContext& c, std::vector<uint8_t>* value)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.pin->ks.ConnectionFormat);
    value->assign(bytes, bytes + c.pin->ks.ConnectionFormat->FormatSize);
    return STATUS_SUCCESS;
}

constexpr ULONG kProperty = sizeof(KSPROPERTY);
constexpr ULONG kPinProperty = sizeof(KSP_PIN);

const StandardProperty kStandardProperties[] = {
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, false, kProperty, 0, PinCount, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, false, kPinProperty, 0, PinInstancesNow, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, false, kPinProperty, 0, PinGlobalInstances, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_NECESSARYINSTANCES, false, kPinProperty, 0, PinNecessaryInstances, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, false, kPinProperty, 0, PinDataFlow, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, false, kPinProperty, 0, PinCommunication, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, false, kPinProperty, 0, PinDataRanges, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CONSTRAINEDDATARANGES, false, kPinProperty, 0, PinDataRanges, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, false, kPinProperty + ULONG(sizeof(KSMULTIPLE_ITEM)), 0,
     PinDataIntersection, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, false, kPinProperty, 0, PinInterfaces, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, false, kPinProperty, 0, PinMediums, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY, false, kPinProperty, 0, PinCategory, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, false, kPinProperty, 0, PinName, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_PHYSICALCONNECTION, false, kPinProperty, 0, PinPhysicalConnection, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CATEGORIES, false, kProperty, 0, TopologyCategories, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, false, kProperty, 0, TopologyNodes, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS, false, kProperty, 0, TopologyConnections, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NAME, false, ULONG(sizeof(KSP_NODE)), 0, TopologyName, nullptr},
    {&KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID, false, kProperty, 0, ComponentId, nullptr},
    {&KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, true, kProperty, ULONG(sizeof(KSSTATE)), GetState,
     SetState},
    {&KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, true, kProperty, 0, GetDataFormat, nullptr},
};

}  // namespace

const StandardProperty* FindStandardProperty(const GUID& set, ULONG id, bool onPin)
{
    for (const auto& item : kStandardProperties) {
        if (item.onPin == onPin && item.id == id && IsEqualGUID(*item.set, set)) return &item;
    }
    return nullptr;
}

}  // namespace kmsim::ks
