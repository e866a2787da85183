// Event enabling, disabling and generation.
//
// IOCTL_KS_ENABLE_EVENT arrives METHOD_NEITHER: Type3InputBuffer is the
// KSEVENT, UserBuffer the client's KSEVENTDATA, whose address also names the
// event for IOCTL_KS_DISABLE_EVENT. In the kernel emulation an
// event-handle notification carries the PKEVENT itself.
#include "km/ksobjects.h"
#include "km/verifier.h"

#include <cstring>
#include <map>

namespace kmsim::ks {
namespace {

struct EventTable {
    std::mutex mutex;
    std::map<PKSEVENT_ENTRY, EventEntry*> entries;
};

EventTable& TheEvents()
{
    static EventTable* table = new EventTable;
    return *table;
}

const KSEVENT_ITEM* FindEvent(const KSAUTOMATION_TABLE* table, const GUID& set, ULONG id,
                              const KSEVENT_SET** eventSet)
{
    if (!table || !table->EventSets) return nullptr;
    ULONG stride = table->EventItemSize ? table->EventItemSize : ULONG(sizeof(KSEVENT_ITEM));
    if (stride < sizeof(KSEVENT_ITEM)) {
        ReportViolation("ks", "automation table with EventItemSize " + std::to_string(stride) +
                                  ", smaller than a KSEVENT_ITEM");
        return nullptr;
    }
    for (ULONG s = 0; s < table->EventSetsCount; ++s) {
        const KSEVENT_SET& candidate = table->EventSets[s];
        if (!candidate.Set || !IsEqualGUID(*candidate.Set, set)) continue;
        const auto* items = reinterpret_cast<const uint8_t*>(candidate.EventItem);
        for (ULONG i = 0; items && i < candidate.EventsCount; ++i) {
            const auto* item = reinterpret_cast<const KSEVENT_ITEM*>(items + size_t(i) * stride);
            if (item->EventId == id) {
                *eventSet = &candidate;
                return item;
            }
        }
    }
    return nullptr;
}

std::list<EventEntry*>* ListOf(PFILE_OBJECT fileObject)
{
    if (Pin* pin = PinOfFileObject(fileObject)) return &pin->events;
    if (Filter* filter = FilterOfFileObject(fileObject)) return &filter->events;
    return nullptr;
}

// Takes the entry out of its list and the table; the caller then tells the
// minidriver and deletes it. Call with the table's lock held.
void Unlink(EventTable& t, EventEntry* entry)
{
    if (entry->list) entry->list->remove(entry);
    entry->list = nullptr;
    t.entries.erase(entry->entry());
}

void Discard(EventEntry* entry)
{
    PKSEVENT_ENTRY ks = entry->entry();
    if (ks->EventItem && ks->EventItem->RemoveHandler) ks->EventItem->RemoveHandler(ks->FileObject, ks);
    delete entry;
}

void Signal(EventEntry* entry)
{
    // KSEVENTF_EVENT_HANDLE and KSEVENTF_EVENT_OBJECT keep the event at the same place.
    if (auto* event = static_cast<PKEVENT>(entry->data.EventHandle.Event)) KeSetEvent(event, IO_NO_INCREMENT, FALSE);
}

}  // namespace

void RemoveEventsOf(std::list<EventEntry*>& events, PFILE_OBJECT fileObject)
{
    std::vector<EventEntry*> removed;
    {
        EventTable& t = TheEvents();
        std::lock_guard lock(t.mutex);
        for (auto it = events.begin(); it != events.end();) {
            EventEntry* entry = *it++;
            if (fileObject && entry->entry()->FileObject != fileObject) continue;
            Unlink(t, entry);
            removed.push_back(entry);
        }
    }
    for (EventEntry* entry : removed) Discard(entry);
}

NTSTATUS DispatchEnableEvent(PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const void* userEvent = sp->Parameters.DeviceIoControl.Type3InputBuffer;
    ULONG eventBytes = sp->Parameters.DeviceIoControl.InputBufferLength;
    void* userData = irp->UserBuffer;
    ULONG dataBytes = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (!userEvent || eventBytes < sizeof(KSEVENT)) return STATUS_INVALID_PARAMETER;
    if (dataBytes && !userData) return STATUS_INVALID_PARAMETER;
    Filter* filter = FilterOfFileObject(sp->FileObject);
    Pin* pin = PinOfFileObject(sp->FileObject);
    if (!filter) return STATUS_INVALID_DEVICE_REQUEST;

    std::vector<uint64_t> request((eventBytes + 7) / 8);
    memcpy(request.data(), userEvent, eventBytes);
    auto* event = reinterpret_cast<PKSEVENT>(request.data());
    const KSEVENT_SET* eventSet = nullptr;
    const KSEVENT_ITEM* item = FindEvent(AutomationTableOf(filter, pin), event->Set, event->Id, &eventSet);
    if (!item) return STATUS_NOT_FOUND;

    ULONG type = event->Flags & ~ULONG(KSEVENT_TYPE_TOPOLOGY);
    if (type == KSEVENT_TYPE_BASICSUPPORT) {
        if (!item->SupportHandler) return STATUS_SUCCESS;
        std::vector<uint64_t> data((dataBytes + 7) / 8);
        NTSTATUS status = item->SupportHandler(irp, event, dataBytes ? data.data() : nullptr);
        ULONG_PTR reported = irp->IoStatus.Information < dataBytes ? irp->IoStatus.Information : dataBytes;
        if (NT_SUCCESS(status) && reported) memcpy(userData, data.data(), reported);
        return status;
    }
    if (type != KSEVENT_TYPE_ENABLE && type != KSEVENT_TYPE_ONESHOT) return STATUS_INVALID_PARAMETER;
    ULONG minData = item->DataInput > sizeof(KSEVENTDATA) ? item->DataInput : ULONG(sizeof(KSEVENTDATA));
    if (dataBytes < minData) return STATUS_BUFFER_TOO_SMALL;

    auto* entry = new EventEntry;
    memcpy(&entry->data, userData, sizeof(KSEVENTDATA));
    if ((entry->data.NotificationType != KSEVENTF_EVENT_HANDLE &&
         entry->data.NotificationType != KSEVENTF_EVENT_OBJECT) ||
        !entry->data.EventHandle.Event) {
        delete entry;
        return STATUS_INVALID_PARAMETER;
    }
    entry->clientKey = userData;
    entry->oneShot = type == KSEVENT_TYPE_ONESHOT;
    entry->storage.assign((sizeof(KSEVENT_ENTRY) + item->ExtraEntryData + 7) / 8, 0);
    PKSEVENT_ENTRY ks = entry->entry();
    InitializeListHead(&ks->ListEntry);
    ks->Object = pin ? static_cast<PVOID>(&pin->ks) : static_cast<PVOID>(&filter->ks);
    ks->EventData = &entry->data;
    ks->NotificationType = entry->data.NotificationType;
    ks->EventSet = eventSet;
    ks->EventItem = item;
    ks->FileObject = sp->FileObject;
    {
        EventTable& t = TheEvents();
        std::lock_guard lock(t.mutex);
        t.entries[ks] = entry;
    }
    NTSTATUS status = item->AddHandler ? item->AddHandler(irp, &entry->data, ks)
                                       : KsDefaultAddEventHandler(irp, &entry->data, ks);
    EventTable& t = TheEvents();
    std::lock_guard lock(t.mutex);
    if (!NT_SUCCESS(status)) {
        Unlink(t, entry);
        delete entry;
        return status;
    }
    // A minidriver add handler that keeps no list of its own still gets its
    // event signalled.
    if (!entry->list) {
        entry->list = ListOf(sp->FileObject);
        entry->list->push_back(entry);
    }
    return STATUS_SUCCESS;
}

NTSTATUS DispatchDisableEvent(PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const void* key = sp->Parameters.DeviceIoControl.Type3InputBuffer;
    ULONG keyBytes = sp->Parameters.DeviceIoControl.InputBufferLength;
    std::list<EventEntry*>* list = ListOf(sp->FileObject);
    if (!list) return STATUS_INVALID_DEVICE_REQUEST;
    // No data: every event enabled through this handle goes.
    if (keyBytes == 0) {
        RemoveEventsOf(*list, sp->FileObject);
        return STATUS_SUCCESS;
    }
    if (!key || keyBytes < sizeof(KSEVENTDATA)) return STATUS_INVALID_PARAMETER;
    EventEntry* found = nullptr;
    {
        EventTable& t = TheEvents();
        std::lock_guard lock(t.mutex);
        for (EventEntry* entry : *list) {
            if (entry->clientKey == key && entry->entry()->FileObject == sp->FileObject) {
                found = entry;
                break;
            }
        }
        if (!found) return STATUS_NOT_FOUND;
        Unlink(t, found);
    }
    Discard(found);
    return STATUS_SUCCESS;
}

}  // namespace kmsim::ks

using namespace kmsim::ks;

NTSTATUS KsDefaultAddEventHandler(PIRP Irp, PKSEVENTDATA EventData, PKSEVENT_ENTRY EventEntry)
{
    UNREFERENCED_PARAMETER(EventData);
    if (!Irp || !EventEntry) return STATUS_INVALID_PARAMETER;
    std::list<kmsim::ks::EventEntry*>* list = ListOf(IoGetCurrentIrpStackLocation(Irp)->FileObject);
    if (!list) return STATUS_INVALID_PARAMETER;
    EventTable& t = TheEvents();
    std::lock_guard lock(t.mutex);
    auto it = t.entries.find(EventEntry);
    if (it == t.entries.end()) {
        kmsim::ReportViolation("ks", "KsDefaultAddEventHandler: not an entry the class driver is enabling");
        return STATUS_INVALID_PARAMETER;
    }
    if (!it->second->list) {
        it->second->list = list;
        list->push_back(it->second);
    }
    return STATUS_SUCCESS;
}

void KsGenerateEvents(PVOID Object, const GUID* EventSet, ULONG EventId, ULONG DataSize, PVOID Data,
                      PFNKSGENERATEEVENTCALLBACK CallBack, PVOID CallBackContext)
{
    UNREFERENCED_PARAMETER(DataSize);
    UNREFERENCED_PARAMETER(Data);
    Kind kind;
    if (!Object || !KindOf(Object, &kind) || (kind != Kind::Filter && kind != Kind::Pin)) {
        kmsim::ReportViolation("ks", "KsGenerateEvents: not a live filter or pin");
        return;
    }
    std::list<kmsim::ks::EventEntry*>& events =
        kind == Kind::Filter ? static_cast<Filter*>(Object)->events : static_cast<Pin*>(Object)->events;
    std::vector<kmsim::ks::EventEntry*> fired;
    {
        EventTable& t = TheEvents();
        std::lock_guard lock(t.mutex);
        for (auto it = events.begin(); it != events.end();) {
            kmsim::ks::EventEntry* entry = *it++;
            PKSEVENT_ENTRY ks = entry->entry();
            if (EventSet && !IsEqualGUID(*ks->EventSet->Set, *EventSet)) continue;
            if (ks->EventItem->EventId != EventId) continue;
            if (CallBack && !CallBack(CallBackContext, ks)) continue;
            Signal(entry);
            if (entry->oneShot) {
                Unlink(t, entry);
                fired.push_back(entry);
            }
        }
    }
    for (kmsim::ks::EventEntry* entry : fired) Discard(entry);
}
