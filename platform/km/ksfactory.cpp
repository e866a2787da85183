// Filter factories and the device interfaces they register.
#include "km/ksdevice.h"
#include "km/ksdeviceinterfaces.h"
#include "km/ksobjects.h"
#include "km/pnpmanager.h"
#include "km/registrystore.h"
#include "km/utf16.h"
#include "km/verifier.h"

#include <algorithm>
#include <cstdio>

namespace kmsim::ks {
namespace {

struct InterfaceTable {
    std::mutex mutex;
    std::vector<DeviceInterface> items;
};

InterfaceTable& TheInterfaces()
{
    static InterfaceTable* table = new InterfaceTable;
    return *table;
}

std::u16string GuidText(const GUID& guid)
{
    char text[40];
    snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", unsigned(guid.Data1),
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
             guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return Utf8ToUtf16(text);
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

std::u16string Lowered(std::u16string text)
{
    for (auto& c : text) c = Lower(c);
    return text;
}

// "\??\" and "\\?\" name the same thing; compare without the prefix.
std::u16string LinkKey(const std::u16string& link)
{
    std::u16string key = Lowered(link);
    if (key.rfind(u"\\??\\", 0) == 0 || key.rfind(u"\\\\?\\", 0) == 0) key.erase(0, 4);
    return key;
}

// "USB\VID_3A1E&PID_0010\5&1a2b3c4d&0&1" -> "USB#VID_3A1E&PID_0010#5&1a2b3c4d&0&1"
std::u16string InstancePathPart(PDEVICE_OBJECT pdo)
{
    std::u16string id = DeviceInstanceId(pdo);
    std::replace(id.begin(), id.end(), u'\\', u'#');
    return id;
}

}  // namespace

void AddDeviceInterface(const DeviceInterface& item)
{
    InterfaceTable& t = TheInterfaces();
    std::lock_guard lock(t.mutex);
    t.items.push_back(item);
}

void RemoveDeviceInterfaces(Factory* factory)
{
    InterfaceTable& t = TheInterfaces();
    std::lock_guard lock(t.mutex);
    std::erase_if(t.items, [&](const DeviceInterface& item) { return item.factory == factory; });
}

void SetDeviceInterfacesState(Factory* factory, bool enabled)
{
    InterfaceTable& t = TheInterfaces();
    std::lock_guard lock(t.mutex);
    for (auto& item : t.items) {
        if (item.factory == factory) item.enabled = enabled;
    }
}

void DestroyFactory(Factory* factory)
{
    // Filters first: closing one takes its pins with it.
    for (;;) {
        Filter* filter = nullptr;
        {
            std::lock_guard lock(TreeLock());
            if (factory->filters.empty()) break;
            filter = factory->filters.back();
        }
        DestroyFilter(filter, nullptr);
    }
    RemoveDeviceInterfaces(factory);
    {
        std::lock_guard lock(TreeLock());
        std::erase(factory->device->factories, factory);
    }
    FreeObjectBag(factory->bag);
    UnregisterObject(factory);
    delete factory;
}

}  // namespace kmsim::ks

namespace kmsim {

std::vector<DeviceInterfaceRecord> DeviceInterfaces()
{
    ks::InterfaceTable& t = ks::TheInterfaces();
    std::lock_guard lock(t.mutex);
    std::vector<DeviceInterfaceRecord> records;
    for (const auto& item : t.items) {
        records.push_back({item.category, item.symbolicLink, item.reference,
                           item.factory->device->ks.FunctionalDeviceObject, item.enabled});
    }
    return records;
}

std::vector<DeviceInterfaceRecord> DeviceInterfaces(const GUID& interfaceClass)
{
    std::vector<DeviceInterfaceRecord> records = DeviceInterfaces();
    std::erase_if(records, [&](const DeviceInterfaceRecord& r) { return !IsEqualGUID(r.interfaceClass, interfaceClass); });
    return records;
}

bool ResolveDeviceInterface(const std::u16string& symbolicLink, PDEVICE_OBJECT* deviceObject,
                            std::u16string* fileName)
{
    std::u16string key = ks::LinkKey(symbolicLink);
    for (const auto& record : DeviceInterfaces()) {
        if (!record.enabled || ks::LinkKey(record.symbolicLink) != key) continue;
        if (deviceObject) *deviceObject = record.deviceObject;
        if (fileName) *fileName = record.reference.empty() ? u"" : u"\\" + record.reference;
        return true;
    }
    return false;
}

}  // namespace kmsim

using namespace kmsim::ks;

NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT DeviceObject, const KSFILTER_DESCRIPTOR* Descriptor,
                               PWSTR RefString, PSECURITY_DESCRIPTOR SecurityDescriptor,
                               ULONG CreateItemFlags, PFNKSFILTERFACTORYPOWER SleepCallback,
                               PFNKSFILTERFACTORYPOWER WakeCallback, PKSFILTERFACTORY* FilterFactory)
{
    UNREFERENCED_PARAMETER(SecurityDescriptor);
    UNREFERENCED_PARAMETER(CreateItemFlags);
    UNREFERENCED_PARAMETER(SleepCallback);
    UNREFERENCED_PARAMETER(WakeCallback);
    if (FilterFactory) *FilterFactory = nullptr;
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        kmsim::ReportViolation("irql", "KsCreateFilterFactory at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    Device* device = DeviceOfFunctionalDeviceObject(DeviceObject);
    if (!device) {
        kmsim::ReportViolation("ks", "KsCreateFilterFactory: not the functional device object of a KS device");
        return STATUS_INVALID_PARAMETER;
    }
    if (!Descriptor || Descriptor->Version != KSFILTER_DESCRIPTOR_VERSION) return STATUS_INVALID_PARAMETER;
    if (Descriptor->PinDescriptorsCount &&
        (!Descriptor->PinDescriptors || Descriptor->PinDescriptorSize < sizeof(KSPIN_DESCRIPTOR_EX))) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Descriptor->NodeDescriptorsCount &&
        (!Descriptor->NodeDescriptors || Descriptor->NodeDescriptorSize < sizeof(KSNODE_DESCRIPTOR))) {
        return STATUS_INVALID_PARAMETER;
    }
    if ((Descriptor->CategoriesCount && !Descriptor->Categories) ||
        (Descriptor->ConnectionsCount && !Descriptor->Connections)) {
        return STATUS_INVALID_PARAMETER;
    }

    auto* factory = new Factory;
    factory->ks.FilterDescriptor = Descriptor;
    factory->ks.Bag = &factory->bag;
    factory->device = device;
    if (RefString) factory->reference = RefString;

    std::u16string reference = Lowered(factory->reference);
    std::u16string instance = InstancePathPart(device->ks.PhysicalDeviceObject);
    for (ULONG i = 0; i < Descriptor->CategoriesCount; ++i) {
        const GUID& category = Descriptor->Categories[i];
        std::u16string link = u"\\??\\" + instance + u"#" + GuidText(category);
        if (!reference.empty()) link += u"\\" + reference;
        factory->links.push_back(link);
        // Windows keeps each interface's key under DeviceClasses, named after
        // the link with "\??\" turned into "##?#".
        std::u16string keyName = u"##?#" + instance + u"#" + GuidText(category) + u"\\#" + reference;
        std::string keyPath = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\" +
                              kmsim::Utf16ToUtf8(GuidText(category)) + "\\" + kmsim::Utf16ToUtf8(keyName) +
                              "\\Device Parameters";
        kmsim::BindInterfaceRegistryKey(link, keyPath);
        AddDeviceInterface({category, link, factory->reference, factory, true});
    }
    if (!factory->links.empty()) {
        factory->firstLink = factory->links.front();
        factory->linkString.Buffer = factory->firstLink.data();
        factory->linkString.Length = USHORT(factory->firstLink.size() * sizeof(WCHAR));
        factory->linkString.MaximumLength = USHORT(factory->linkString.Length + sizeof(WCHAR));
    }

    RegisterObject(factory, Kind::Factory);
    {
        std::lock_guard lock(TreeLock());
        device->factories.push_back(factory);
    }
    if (FilterFactory) *FilterFactory = &factory->ks;
    return STATUS_SUCCESS;
}

NTSTATUS KsFilterFactorySetDeviceClassesState(PKSFILTERFACTORY FilterFactory, BOOLEAN NewState)
{
    Kind kind;
    if (!FilterFactory || !KindOf(FilterFactory, &kind) || kind != Kind::Factory) return STATUS_INVALID_PARAMETER;
    SetDeviceInterfacesState(reinterpret_cast<Factory*>(FilterFactory), NewState != FALSE);
    return STATUS_SUCCESS;
}

PUNICODE_STRING KsFilterFactoryGetSymbolicLink(PKSFILTERFACTORY FilterFactory)
{
    Kind kind;
    if (!FilterFactory || !KindOf(FilterFactory, &kind) || kind != Kind::Factory) {
        kmsim::ReportViolation("ks", "KsFilterFactoryGetSymbolicLink: not a live filter factory");
        return nullptr;
    }
    auto* factory = reinterpret_cast<Factory*>(FilterFactory);
    return factory->links.empty() ? nullptr : &factory->linkString;
}
