// The object tree, object bags, the device mutex and the tree accessors.
#include "km/ksobjects.h"

#include "km/verifier.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace kmsim::ks {
namespace {

struct Tables {
    std::recursive_mutex lock;
    std::map<const void*, Kind> objects;
    std::set<const void*> bags;
    std::map<PDRIVER_OBJECT, Driver*> drivers;
};

Tables& TheTables()
{
    static Tables* tables = new Tables;
    return *tables;
}

std::string Pointer(const void* p)
{
    char text[32];
    snprintf(text, sizeof text, "%p", p);
    return text;
}

ObjectBag* BagOf(const void* object, Kind kind)
{
    switch (kind) {
    case Kind::Device: return &((Device*)object)->bag;
    case Kind::Factory: return &((Factory*)object)->bag;
    case Kind::Filter: return &((Filter*)object)->bag;
    case Kind::Pin: return &((Pin*)object)->bag;
    }
    return nullptr;
}

// The object, or null with a finding when the pointer names no live object.
bool LiveKind(const char* routine, const void* object, Kind* kind)
{
    if (object && KindOf(object, kind)) return true;
    ReportViolation("ks", std::string(routine) + "(" + Pointer(object) + "): not a live KS object");
    return false;
}

template <typename T>
T* NextAfter(const std::vector<T*>& items, const T* item)
{
    auto it = std::find(items.begin(), items.end(), item);
    if (it == items.end() || ++it == items.end()) return nullptr;
    return *it;
}

}  // namespace

void FreeObjectBag(ObjectBag& bag)
{
    std::vector<std::pair<PVOID, PFNKSFREE>> items;
    {
        std::lock_guard lock(bag.mutex);
        items.swap(bag.items);
    }
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (it->second) {
            it->second(it->first);
        } else {
            ExFreePool(it->first);
        }
    }
}

std::recursive_mutex& TreeLock() { return TheTables().lock; }

void RegisterObject(const void* object, Kind kind)
{
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    t.objects[object] = kind;
    t.bags.insert(BagOf(object, kind));
}

void UnregisterObject(const void* object)
{
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    auto it = t.objects.find(object);
    if (it == t.objects.end()) return;
    t.bags.erase(BagOf(object, it->second));
    t.objects.erase(it);
}

bool KindOf(const void* object, Kind* kind)
{
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    auto it = t.objects.find(object);
    if (it == t.objects.end()) return false;
    *kind = it->second;
    return true;
}

Device* DeviceOf(PVOID object)
{
    Kind kind;
    if (!object || !KindOf(object, &kind)) return nullptr;
    switch (kind) {
    case Kind::Device: return (Device*)object;
    case Kind::Factory: return ((Factory*)object)->device;
    case Kind::Filter: return ((Filter*)object)->factory->device;
    case Kind::Pin: return ((Pin*)object)->filter->factory->device;
    }
    return nullptr;
}

Filter* FilterOfFileObject(PFILE_OBJECT fileObject)
{
    Kind kind;
    if (!fileObject || !KindOf(fileObject->FsContext, &kind)) return nullptr;
    if (kind == Kind::Filter) return (Filter*)fileObject->FsContext;
    if (kind == Kind::Pin) return ((Pin*)fileObject->FsContext)->filter;
    return nullptr;
}

Pin* PinOfFileObject(PFILE_OBJECT fileObject)
{
    Kind kind;
    if (!fileObject || !KindOf(fileObject->FsContext, &kind) || kind != Kind::Pin) return nullptr;
    return (Pin*)fileObject->FsContext;
}

Driver* DriverOf(PDRIVER_OBJECT driverObject)
{
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    auto it = t.drivers.find(driverObject);
    return it == t.drivers.end() ? nullptr : it->second;
}

Driver* AddDriver(PDRIVER_OBJECT driverObject, const KSDEVICE_DESCRIPTOR* descriptor)
{
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    Driver*& driver = t.drivers[driverObject];
    if (!driver) driver = new Driver;
    driver->driverObject = driverObject;
    driver->descriptor = descriptor;
    return driver;
}

void RemoveDriver(PDRIVER_OBJECT driverObject)
{
    Tables& t = TheTables();
    std::lock_guard lock(t.lock);
    auto it = t.drivers.find(driverObject);
    if (it == t.drivers.end()) return;
    delete it->second;
    t.drivers.erase(it);
}

}  // namespace kmsim::ks

using namespace kmsim::ks;

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, PFNKSFREE Free)
{
    if (!Item) return STATUS_INVALID_PARAMETER;
    {
        Tables& t = TheTables();
        std::lock_guard lock(t.lock);
        if (!t.bags.count(ObjectBag)) {
            kmsim::ReportViolation("ks", "KsAddItemToObjectBag(" + Pointer(ObjectBag) +
                                             "): not the bag of a live KS object");
            return STATUS_INVALID_PARAMETER;
        }
    }
    auto* bag = static_cast<kmsim::ks::ObjectBag*>(ObjectBag);
    std::lock_guard lock(bag->mutex);
    for (auto& item : bag->items) {
        if (item.first == Item) return STATUS_SUCCESS;
    }
    bag->items.emplace_back(Item, Free);
    return STATUS_SUCCESS;
}

ULONG KsRemoveItemFromObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, BOOLEAN Free)
{
    {
        Tables& t = TheTables();
        std::lock_guard lock(t.lock);
        if (!t.bags.count(ObjectBag)) {
            kmsim::ReportViolation("ks", "KsRemoveItemFromObjectBag(" + Pointer(ObjectBag) +
                                             "): not the bag of a live KS object");
            return 0;
        }
    }
    auto* bag = static_cast<kmsim::ks::ObjectBag*>(ObjectBag);
    std::pair<PVOID, PFNKSFREE> found{nullptr, nullptr};
    {
        std::lock_guard lock(bag->mutex);
        auto it = std::find_if(bag->items.begin(), bag->items.end(),
                               [&](const auto& item) { return item.first == Item; });
        if (it == bag->items.end()) return 0;
        found = *it;
        bag->items.erase(it);
    }
    if (Free) {
        if (found.second) {
            found.second(found.first);
        } else {
            ExFreePool(found.first);
        }
    }
    return 0;  // references left in other bags: items live in one bag here
}

void KsAcquireDevice(PKSDEVICE Device)
{
    Kind kind;
    if (!LiveKind("KsAcquireDevice", Device, &kind) || kind != Kind::Device) return;
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql", "KsAcquireDevice at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    reinterpret_cast<kmsim::ks::Device*>(Device)->mutex.lock();
}

void KsReleaseDevice(PKSDEVICE Device)
{
    Kind kind;
    if (!LiveKind("KsReleaseDevice", Device, &kind) || kind != Kind::Device) return;
    reinterpret_cast<kmsim::ks::Device*>(Device)->mutex.unlock();
}

void KsFilterAcquireControl(PKSFILTER Filter)
{
    Kind kind;
    if (!LiveKind("KsFilterAcquireControl", Filter, &kind) || kind != Kind::Filter) return;
    reinterpret_cast<kmsim::ks::Filter*>(Filter)->control.lock();
}

void KsFilterReleaseControl(PKSFILTER Filter)
{
    Kind kind;
    if (!LiveKind("KsFilterReleaseControl", Filter, &kind) || kind != Kind::Filter) return;
    reinterpret_cast<kmsim::ks::Filter*>(Filter)->control.unlock();
}

PKSDEVICE KsGetDevice(PVOID Object)
{
    Kind kind;
    if (!LiveKind("KsGetDevice", Object, &kind)) return nullptr;
    return &DeviceOf(Object)->ks;
}

PVOID KsGetParent(PVOID Object)
{
    Kind kind;
    if (!LiveKind("KsGetParent", Object, &kind)) return nullptr;
    switch (kind) {
    case Kind::Device: return nullptr;
    case Kind::Factory: return ((Factory*)Object)->device;
    case Kind::Filter: return ((Filter*)Object)->factory;
    case Kind::Pin: return ((Pin*)Object)->filter;
    }
    return nullptr;
}

PVOID KsGetFirstChild(PVOID Object)
{
    Kind kind;
    if (!LiveKind("KsGetFirstChild", Object, &kind)) return nullptr;
    std::lock_guard lock(TreeLock());
    switch (kind) {
    case Kind::Device: {
        auto& items = ((kmsim::ks::Device*)Object)->factories;
        return items.empty() ? nullptr : items.front();
    }
    case Kind::Factory: {
        auto& items = ((Factory*)Object)->filters;
        return items.empty() ? nullptr : items.front();
    }
    case Kind::Filter: {
        auto& items = ((kmsim::ks::Filter*)Object)->pins;
        return items.empty() ? nullptr : items.front();
    }
    case Kind::Pin: return nullptr;
    }
    return nullptr;
}

PVOID KsGetNextSibling(PVOID Object)
{
    Kind kind;
    if (!LiveKind("KsGetNextSibling", Object, &kind)) return nullptr;
    std::lock_guard lock(TreeLock());
    switch (kind) {
    case Kind::Device: return nullptr;
    case Kind::Factory: {
        auto* factory = (Factory*)Object;
        return NextAfter(factory->device->factories, factory);
    }
    case Kind::Filter: {
        auto* filter = (kmsim::ks::Filter*)Object;
        return NextAfter(filter->factory->filters, filter);
    }
    case Kind::Pin: {
        auto* pin = (Pin*)Object;
        return NextAfter(pin->filter->pins, pin);
    }
    }
    return nullptr;
}

PKSFILTER KsPinGetParentFilter(PKSPIN Pin)
{
    Kind kind;
    if (!LiveKind("KsPinGetParentFilter", Pin, &kind) || kind != Kind::Pin) return nullptr;
    return &reinterpret_cast<kmsim::ks::Pin*>(Pin)->filter->ks;
}

ULONG KsFilterGetChildPinCount(PKSFILTER Filter, ULONG PinId)
{
    Kind kind;
    if (!LiveKind("KsFilterGetChildPinCount", Filter, &kind) || kind != Kind::Filter) return 0;
    std::lock_guard lock(TreeLock());
    auto& pins = reinterpret_cast<kmsim::ks::Filter*>(Filter)->pins;
    return ULONG(std::count_if(pins.begin(), pins.end(), [&](Pin* p) { return p->ks.Id == PinId; }));
}

PKSPIN KsFilterGetFirstChildPin(PKSFILTER Filter, ULONG PinId)
{
    Kind kind;
    if (!LiveKind("KsFilterGetFirstChildPin", Filter, &kind) || kind != Kind::Filter) return nullptr;
    std::lock_guard lock(TreeLock());
    for (Pin* pin : reinterpret_cast<kmsim::ks::Filter*>(Filter)->pins) {
        if (pin->ks.Id == PinId) return &pin->ks;
    }
    return nullptr;
}

PKSPIN KsPinGetNextSiblingPin(PKSPIN Pin)
{
    Kind kind;
    if (!LiveKind("KsPinGetNextSiblingPin", Pin, &kind) || kind != Kind::Pin) return nullptr;
    std::lock_guard lock(TreeLock());
    auto* pin = reinterpret_cast<kmsim::ks::Pin*>(Pin);
    auto& pins = pin->filter->pins;
    auto it = std::find(pins.begin(), pins.end(), pin);
    for (++it; it < pins.end(); ++it) {
        if ((*it)->ks.Id == pin->ks.Id) return &(*it)->ks;
    }
    return nullptr;
}

PKSFILTER KsGetFilterFromIrp(PIRP Irp)
{
    if (!Irp) return nullptr;
    kmsim::ks::Filter* filter = FilterOfFileObject(IoGetCurrentIrpStackLocation(Irp)->FileObject);
    return filter ? &filter->ks : nullptr;
}

PKSPIN KsGetPinFromIrp(PIRP Irp)
{
    if (!Irp) return nullptr;
    kmsim::ks::Pin* pin = PinOfFileObject(IoGetCurrentIrpStackLocation(Irp)->FileObject);
    return pin ? &pin->ks : nullptr;
}
