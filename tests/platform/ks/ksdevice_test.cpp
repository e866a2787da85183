// Device lifecycle through the PnP manager: loading, plug, power, removal,
// object bags, filter factories and their device interfaces.
#include "ksfixture.h"

#include "km/verifier.h"

#include <gtest/gtest-spi.h>

#include <cstring>

namespace kstest {
namespace {

using kmsim::KsClientHandle;

TEST_F(KsTest, DriverEntryGetsTheServiceKeyPathAndTheKeyExists)
{
    EXPECT_EQ(State().log, std::vector<std::string>{"DriverEntry"});
    EXPECT_TRUE(kmsim::KeyExists("\\Registry\\Machine\\System\\CurrentControlSet\\Services\\kstest"));
    EXPECT_EQ(driver_->DriverExtension->AddDevice != nullptr, true);
    EXPECT_NE(driver_->DriverUnload, nullptr);
}

TEST_F(KsTest, PlugRunsAddPostStartThenPowerUp)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    std::vector<std::string> expected = {"DriverEntry", "Add", "PostStart",
                                         "SetPower " + std::to_string(PowerDeviceD0) + "<-" +
                                             std::to_string(PowerDeviceD3)};
    EXPECT_EQ(State().log, expected);
    PKSDEVICE device = State().device;
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->PhysicalDeviceObject, pdo_);
    EXPECT_EQ(device->NextDeviceObject, pdo_);
    EXPECT_EQ(pdo_->AttachedDevice, device->FunctionalDeviceObject);
    EXPECT_TRUE(device->Started);
    EXPECT_EQ(device->DevicePowerState, PowerDeviceD0);
    EXPECT_NE(device->Context, nullptr);
}

TEST_F(KsTest, PowerDownAndUpReachTheMinidriverWithBothStates)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    State().log.clear();
    EXPECT_EQ(kmsim::SetDevicePowerState(pdo_, PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::SetDevicePowerState(pdo_, PowerDeviceD3), STATUS_SUCCESS);  // no change: not passed on
    EXPECT_EQ(kmsim::SetDevicePowerState(pdo_, PowerDeviceD0), STATUS_SUCCESS);
    std::vector<std::string> expected = {"SetPower 4<-1", "SetPower 1<-4"};
    EXPECT_EQ(State().log, expected);
    EXPECT_EQ(State().device->DevicePowerState, PowerDeviceD0);
}

TEST_F(KsTest, QueryCapabilitiesReturnsWhatTheMinidriverSets)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    DEVICE_CAPABILITIES capabilities;
    EXPECT_EQ(kmsim::QueryDeviceCapabilities(pdo_, &capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.SurpriseRemovalOK, 1u);
    EXPECT_TRUE(Logged("QueryCapabilities"));
}

TEST_F(KsTest, UnplugCallsRemoveWithAnIrpAndFreesTheBag)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    EXPECT_TRUE(Logged("Remove"));
    EXPECT_TRUE(Logged("FreeContext"));
    EXPECT_EQ(pdo_->AttachedDevice, nullptr);
    EXPECT_EQ(kmsim::PoolOutstanding(kContextTag).allocations, 0u);
    EXPECT_TRUE(kmsim::DeviceInterfaces().empty());
}

TEST_F(KsTest, UnplugTwiceIsRefused)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_NO_SUCH_DEVICE);
}

TEST_F(KsTest, FailingAddLeavesNoDeviceBehind)
{
    State().addStatus = STATUS_INSUFFICIENT_RESOURCES;
    EXPECT_EQ(Plug(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(kmsim::IsDevicePlugged(pdo_));
    EXPECT_EQ(pdo_->AttachedDevice, nullptr);
    EXPECT_EQ(driver_->DeviceObject, nullptr);
}

TEST_F(KsTest, FailingPostStartLeavesADeviceWithoutFilterThatStillUnplugs)
{
    State().postStartStatus = STATUS_DEVICE_CONFIGURATION_ERROR;
    EXPECT_EQ(Plug(), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(kmsim::IsDevicePlugged(pdo_));
    EXPECT_TRUE(kmsim::DeviceInterfaces().empty());
    EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    EXPECT_TRUE(Logged("FreeContext"));
}

TEST_F(KsTest, UnloadIsRefusedWhileADeviceIsPlugged)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::UnloadDriver(driver_), STATUS_DEVICE_BUSY);
}

TEST_F(KsTest, UnloadCallsTheUnloadRoutineTheDriverInstalled)
{
    static bool called = false;
    called = false;
    static PDRIVER_UNLOAD ksUnload = nullptr;
    ksUnload = driver_->DriverUnload;
    driver_->DriverUnload = [](PDRIVER_OBJECT object) {
        called = true;
        ksUnload(object);
    };
    EXPECT_EQ(kmsim::UnloadDriver(driver_), STATUS_SUCCESS);
    driver_ = nullptr;
    EXPECT_TRUE(called);
}

// ---- Object bags ----------------------------------------------------------------

TEST_F(KsTest, BagItemsAreFreedNewestFirstWithTheirRoutineOrExFreePool)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    static std::vector<int>* freed = nullptr;
    freed = &State().freedItems;
    static int first = 1, second = 2;
    auto record = [](PVOID item) { freed->push_back(*static_cast<int*>(item)); };
    KSOBJECT_BAG bag = State().device->Bag;
    EXPECT_EQ(KsAddItemToObjectBag(bag, &first, record), STATUS_SUCCESS);
    EXPECT_EQ(KsAddItemToObjectBag(bag, &second, record), STATUS_SUCCESS);
    PVOID pooled = ExAllocatePoolWithTag(NonPagedPool, 16, kContextTag);
    EXPECT_EQ(KsAddItemToObjectBag(bag, pooled, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    EXPECT_EQ(State().freedItems, (std::vector<int>{2, 1}));
    EXPECT_EQ(kmsim::PoolOutstanding(kContextTag).allocations, 0u);
}

TEST_F(KsTest, RemovingAnItemFromTheBagFreesItOnlyWhenAsked)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    PVOID kept = ExAllocatePoolWithTag(NonPagedPool, 16, kContextTag);
    PVOID dropped = ExAllocatePoolWithTag(NonPagedPool, 16, kContextTag);
    KSOBJECT_BAG bag = State().device->Bag;
    ASSERT_EQ(KsAddItemToObjectBag(bag, kept, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(KsAddItemToObjectBag(bag, dropped, nullptr), STATUS_SUCCESS);
    KsRemoveItemFromObjectBag(bag, kept, FALSE);
    KsRemoveItemFromObjectBag(bag, dropped, TRUE);
    EXPECT_EQ(kmsim::PoolOutstanding(kContextTag).allocations, 2u);  // the context and the kept item
    ExFreePoolWithTag(kept, kContextTag);
}

TEST_F(KsTest, AddingToAnUnknownBagIsAFinding)
{
    static int notABag = 0;
    static int item = 0;
    static NTSTATUS status = STATUS_SUCCESS;
    EXPECT_NONFATAL_FAILURE(status = KsAddItemToObjectBag(&notABag, &item, nullptr), "not the bag of a live KS object");
    EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
}

// ---- Factories and device interfaces ---------------------------------------------------

TEST_F(KsTest, FactoryRegistersOneInterfacePerCategoryWithTheReferenceString)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    auto interfaces = kmsim::DeviceInterfaces();
    ASSERT_EQ(interfaces.size(), 3u);
    const GUID categories[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER, KSCATEGORY_CAPTURE};
    const char16_t* guids[] = {u"{6994ad04-93ef-11d0-a3cc-00a0c9223196}", u"{65e8773e-8f56-11d0-a3b9-00a0c9223196}",
                               u"{65e8773d-8f56-11d0-a3b9-00a0c9223196}"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(IsEqualGUID(interfaces[i].interfaceClass, categories[i]));
        EXPECT_EQ(interfaces[i].symbolicLink,
                  u"\\??\\USB#VID_3A1E&PID_0010#5&1a2b3c4d&0&1#" + std::u16string(guids[i]) + u"\\global");
        EXPECT_EQ(interfaces[i].reference, u"GLOBAL");
        EXPECT_TRUE(interfaces[i].enabled);
        EXPECT_EQ(interfaces[i].deviceObject, State().device->FunctionalDeviceObject);
    }
    EXPECT_EQ(kmsim::DeviceInterfaces(KSCATEGORY_RENDER).size(), 1u);
}

TEST_F(KsTest, SymbolicLinkOfTheFactoryIsItsFirstCategorysLink)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    PUNICODE_STRING link = KsFilterFactoryGetSymbolicLink(State().factory);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(std::u16string(link->Buffer, link->Length / 2), kAudioLink);
}

TEST_F(KsTest, SymbolicLinkOpensItsOwnInterfaceRegistryKey)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    PUNICODE_STRING link = KsFilterFactoryGetSymbolicLink(State().factory);
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceInterfaceRegistryKey(link, KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
    std::u16string valueName = u"FriendlyName";
    UNICODE_STRING name{USHORT(valueName.size() * 2), USHORT(valueName.size() * 2), valueName.data()};
    WCHAR text[] = u"Box";
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_SZ, text, sizeof(text)), STATUS_SUCCESS);
    ZwClose(key);
    EXPECT_EQ(kmsim::GetString("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\"
                               "{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\##?#USB#VID_3A1E&PID_0010#5&1a2b3c4d&0&1#"
                               "{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\#global\\Device Parameters",
                               "FriendlyName"),
              std::optional<std::string>("Box"));
}

TEST_F(KsTest, DeviceKeysLeadToTheInstanceAndItsDriverKey)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
    std::u16string valueName = u"UrbSize";
    UNICODE_STRING name{USHORT(valueName.size() * 2), USHORT(valueName.size() * 2), valueName.data()};
    ULONG value = 4;
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof(value)), STATUS_SUCCESS);
    ZwClose(key);
    EXPECT_EQ(kmsim::GetDword(kmsim::DeviceDriverKeyPath(pdo_), "UrbSize"), std::optional<uint32_t>(4));
}

TEST_F(KsTest, DisabledInterfacesCannotBeOpened)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    ASSERT_EQ(KsFilterFactorySetDeviceClassesState(State().factory, FALSE), STATUS_SUCCESS);
    std::unique_ptr<KsClientHandle> filter;
    EXPECT_EQ(KsClientHandle::OpenFilter(kAudioLink, &filter), STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(KsFilterFactorySetDeviceClassesState(State().factory, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(KsClientHandle::OpenFilter(kAudioLink, &filter), STATUS_SUCCESS);
}

TEST_F(KsTest, LinksResolveWithEitherPrefixAndAnyCase)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    PDEVICE_OBJECT device = nullptr;
    std::u16string fileName;
    std::u16string link = u"\\\\?\\usb#vid_3a1e&pid_0010#5&1a2b3c4d&0&1#{6994AD04-93EF-11D0-A3CC-00A0C9223196}\\GLOBAL";
    ASSERT_TRUE(kmsim::ResolveDeviceInterface(link, &device, &fileName));
    EXPECT_EQ(device, State().device->FunctionalDeviceObject);
    EXPECT_EQ(fileName, u"\\GLOBAL");
    EXPECT_FALSE(kmsim::ResolveDeviceInterface(u"\\??\\nothing", &device, &fileName));
}

// ---- The object tree -----------------------------------------------------------------

TEST_F(KsTest, FiltersAndPinsAreWalkedFromTheDevice)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    auto first = OpenFilter();
    auto second = OpenFilter();
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*first, &pin), STATUS_SUCCESS);

    PKSDEVICE device = State().device;
    PKSFILTERFACTORY factory = KsDeviceGetFirstChildFilterFactory(device);
    EXPECT_EQ(factory, State().factory);
    EXPECT_EQ(KsFilterFactoryGetNextSiblingFilterFactory(factory), nullptr);
    PKSFILTER filter = KsFilterFactoryGetFirstChildFilter(factory);
    ASSERT_NE(filter, nullptr);
    PKSFILTER next = KsFilterGetNextSiblingFilter(filter);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(KsFilterGetNextSiblingFilter(next), nullptr);
    EXPECT_EQ(KsFilterGetParentFilterFactory(filter), factory);
    EXPECT_EQ(KsGetDevice(filter), device);

    PKSPIN child = static_cast<PKSPIN>(KsGetFirstChild(filter));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Id, kMidiPin);
    EXPECT_EQ(KsPinGetParentFilter(child), filter);
    EXPECT_EQ(KsGetParent(child), filter);
    EXPECT_EQ(KsGetDevice(child), device);
    EXPECT_EQ(KsFilterGetChildPinCount(filter, kMidiPin), 1u);
    EXPECT_EQ(KsFilterGetFirstChildPin(filter, kMidiPin), child);
    EXPECT_EQ(KsGetFirstChild(next), nullptr);
}

TEST_F(KsTest, UnplugWithOpenFiltersAndPinsClosesThemFirst)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    auto filter = OpenFilter();
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    State().log.clear();
    EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    pin->Abandon();
    filter->Abandon();
    std::vector<std::string> expected = {"State 0 3->2", "State 0 2->1", "State 0 1->0", "PinClose 0", "Remove",
                                         "FreeContext"};
    EXPECT_EQ(State().log, expected);
}

TEST_F(KsTest, OpeningAFilterOfAnUnstartedDeviceFails)
{
    State().postStartStatus = STATUS_UNSUCCESSFUL;
    EXPECT_EQ(Plug(), STATUS_UNSUCCESSFUL);
    std::unique_ptr<KsClientHandle> filter;
    EXPECT_EQ(KsClientHandle::OpenFilter(kAudioLink, &filter), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(KsTest, OpeningAnUnknownReferenceStringFails)
{
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    std::unique_ptr<KsClientHandle> filter;
    EXPECT_EQ(KsClientHandle::Open(State().device->FunctionalDeviceObject, u"\\OTHER", nullptr, &filter),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

// Every allocation of a plug-to-unplug cycle failed in turn leaves nothing behind.
TEST_F(KsTest, PlugAndUnplugWithEachAllocationFailingLeaksNothing)
{
    for (uint64_t n = 1; n < 200; ++n) {
        uint64_t before = kmsim::InjectedFailures();
        kmsim::FailNthAllocation(n);
        NTSTATUS status = Plug();
        uint64_t failures = kmsim::InjectedFailures() - before;
        kmsim::ClearPoolFaults();
        if (kmsim::IsDevicePlugged(pdo_)) kmsim::UnplugDevice(pdo_);
        if (NT_SUCCESS(status) && failures == 0) break;
    }
    EXPECT_EQ(kmsim::PoolOutstanding(kContextTag).allocations, 0u);
}

}  // namespace
}  // namespace kstest
