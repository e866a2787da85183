// SetupAPI over the interfaces the driver's filter factories registered.
#include "machinefixture.h"

#include "um/umverifier.h"

#include <cstring>

namespace {

class SetupApi : public umtest::MachineTest {
protected:
    void SetUp() override
    {
        Boot(umtest::kAudioMidiProduct);
        m_set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(m_set, INVALID_HANDLE_VALUE);
        m_data.cbSize = sizeof m_data;
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(m_set, NULL, &KSCATEGORY_AUDIO, 0, &m_data));
    }
    void TearDown() override
    {
        SetupDiDestroyDeviceInfoList(m_set);
        MachineTest::TearDown();
    }
    HDEVINFO m_set = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DATA m_data{};
};

}  // namespace

TEST_F(SetupApi, InterfacePathsAreUserModePathsOfTheAudioClass)
{
    EXPECT_EQ(FirstPath().rfind("\\\\?\\", 0), 0u) << FirstPath();
    EXPECT_NE(FirstPath().find("{6994ad04-93ef-11d0-a3cc-00a0c9223196}"), std::string::npos) << FirstPath();
    EXPECT_TRUE(IsEqualGUID(m_data.InterfaceClassGuid, KSCATEGORY_AUDIO));
}

TEST_F(SetupApi, EnumerationEndsWithNoMoreItems)
{
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(m_set, NULL, &KSCATEGORY_AUDIO, DWORD(m_paths.size()), &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
}

TEST_F(SetupApi, TheDetailRecordNeedsTheSizeOfTheWordSize)
{
    ULONGLONG storage[64];
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(m_set, &m_data, detail, sizeof storage, NULL, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(void*) == 8 ? 8 : 5;
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(m_set, &m_data, detail, sizeof storage, NULL, NULL));
    EXPECT_EQ(FirstPath(), detail->DevicePath);
}

TEST_F(SetupApi, ATooSmallDetailBufferReportsTheSizeNeeded)
{
    DWORD required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(m_set, &m_data, NULL, 0, &required, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 4 + FirstPath().size() + 1);
}

TEST_F(SetupApi, TheServiceOfTheDeviceIsTheDriversName)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    std::string differentCase = FirstPath();
    for (char& c : differentCase) c = char(toupper(c));
    ASSERT_TRUE(SetupDiOpenDeviceInterfaceA(set, differentCase.c_str(), 0, &data));
    ULONGLONG storage[64];
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(storage);
    detail->cbSize = sizeof(void*) == 8 ? 8 : 5;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof storage, NULL, &info));
    char service[64] = {};
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_SERVICE, NULL, reinterpret_cast<PBYTE>(service),
                                                  sizeof service, NULL));
    EXPECT_STREQ(service, "mrvusbaudio");
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, AnUnknownPathIsNoInterface)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(SetupDiOpenDeviceInterfaceA(set, "\\\\?\\usb#nothing#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\x", 0,
                                             &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_DEVICE_INTERFACE));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApi, TheInterfaceKeyOpensForReading)
{
    HKEY key = SetupDiOpenDeviceInterfaceRegKey(m_set, &m_data, 0, KEY_READ);
    ASSERT_NE(key, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(SetupApi, UnpluggingRemovesTheInterfaces)
{
    m_machine->Unplug(m_slot);
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());
}
