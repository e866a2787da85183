// CKsDeviceList: the records of the present interfaces of a class.
#include "ksdevicelist.h"
#include "machinefixture.h"

#include <cstring>

namespace {

class RefusingList : public CKsDeviceList {
public:
    RefusingList() : CKsDeviceList(KSCATEGORY_AUDIO) {}
    BOOL Accept(PDEVICE_RECORD pRecord) override
    {
        offered.push_back(pRecord->szDevicePath);
        return FALSE;
    }
    std::vector<std::string> offered;
};

class DeviceList : public umtest::MachineTest {};

}  // namespace

TEST_F(DeviceList, EveryPresentAudioInterfaceBecomesARecord)
{
    Boot(umtest::kAudioMidiProduct);
    // What the service key of an installed driver holds.
    HKEY service = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\mrvusbaudio", 0, NULL, 0,
                              KEY_ALL_ACCESS, NULL, &service, NULL),
              ERROR_SUCCESS);
    const char image[] = "\\SystemRoot\\System32\\drivers\\mrvusbaudio.sys";
    RegSetValueExA(service, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(image), sizeof image);
    RegCloseKey(service);

    CKsDeviceList list(KSCATEGORY_AUDIO);
    EXPECT_EQ(list.Enumerate(), S_OK);
    ASSERT_EQ(list.GetCount(), m_paths.size());
    for (ULONG i = 0; i < list.GetCount(); ++i) {
        EXPECT_EQ(m_paths[i], list.GetRecord(i)->szDevicePath);
        EXPECT_STREQ(list.GetRecord(i)->szDriverImagePath, image);
    }
}

TEST_F(DeviceList, TheFriendlyNameComesFromTheInterfaceKey)
{
    Boot(umtest::kAudioMidiProduct);
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiOpenDeviceInterfaceA(set, FirstPath().c_str(), 0, &data));
    HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_ALL_ACCESS);
    ASSERT_NE(key, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    const char name[] = "Marvolan Test Interface";
    ASSERT_EQ(RegSetValueExA(key, "FriendlyName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name),
              ERROR_SUCCESS);
    RegCloseKey(key);
    SetupDiDestroyDeviceInfoList(set);

    CKsDeviceList list(KSCATEGORY_AUDIO);
    list.Enumerate();
    ASSERT_GE(list.GetCount(), 1u);
    EXPECT_STREQ(list.GetRecord(0)->szFriendlyName, name);
}

TEST_F(DeviceList, AnInterfaceListedTwiceIsRecordedOnce)
{
    umtest::FakeFilterScenario scenario;
    scenario.pins.push_back({});
    scenario.audioCategoryTwice = true;
    BootFake(scenario);
    ASSERT_EQ(m_paths.size(), 2u);
    CKsDeviceList list(KSCATEGORY_AUDIO);
    list.Enumerate();
    EXPECT_EQ(list.GetCount(), 1u);
}

TEST_F(DeviceList, EnumeratingAgainAddsNothingAlreadyHeld)
{
    Boot(umtest::kAudioMidiProduct);
    CKsDeviceList list(KSCATEGORY_AUDIO);
    list.Enumerate();
    ULONG count = list.GetCount();
    list.Enumerate();
    EXPECT_EQ(list.GetCount(), count);
}

TEST_F(DeviceList, ARefusedRecordIsNotKept)
{
    Boot(umtest::kAudioMidiProduct);
    RefusingList list;
    list.Enumerate();
    EXPECT_EQ(list.offered, m_paths);
    EXPECT_EQ(list.GetCount(), 0u);
}

TEST(DeviceListEmpty, AClassWithoutInterfacesGivesNoRecords)
{
    CKsDeviceList list(KSCATEGORY_AUDIO);
    EXPECT_EQ(list.Enumerate(), S_OK);
    EXPECT_EQ(list.GetCount(), 0u);
}
