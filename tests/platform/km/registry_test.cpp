#include "km/registrystore.h"
#include "km/verifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

const std::string kParameters = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\mrvtest\\Parameters";

struct Wide {
    std::u16string text;
    UNICODE_STRING string;
    explicit Wide(const char16_t* s) : text(s) { RtlInitUnicodeString(&string, text.c_str()); }
    PUNICODE_STRING operator&() { return &string; }
};

class Registry : public testing::Test {
protected:
    size_t handlesBefore = 0;

    void SetUp() override
    {
        kmsim::Clear();
        kmsim::CreateKey(kParameters);
        kmsim::SetDword(kParameters, "DontHideKinetraPorts", 1);
        kmsim::SetString(kParameters, "Name", "abc");
        handlesBefore = kmsim::OpenKeyHandleCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(kmsim::OpenKeyHandleCount(), handlesBefore) << "a registry handle leaked";
        kmsim::Clear();
    }

    HANDLE Open(const char16_t* path, ACCESS_MASK access = KEY_READ, NTSTATUS expected = STATUS_SUCCESS)
    {
        Wide name(path);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
        HANDLE key = nullptr;
        EXPECT_EQ(ZwOpenKey(&key, access, &attributes), expected);
        return key;
    }
};

constexpr const char16_t* kParametersWide =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\mrvtest\\Parameters";

TEST_F(Registry, OpenFindsKeysWithoutRegardToCase)
{
    HANDLE key = Open(u"\\REGISTRY\\machine\\SYSTEM\\currentcontrolset\\services\\MRVTEST\\parameters");
    EXPECT_NE(key, nullptr);
    ZwClose(key);
}

TEST_F(Registry, OpenOfAMissingKeyFails)
{
    Open(u"\\Registry\\Machine\\System\\Nothing", KEY_READ, STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(Registry, OpenRelativeToARootHandle)
{
    HANDLE services = Open(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services");
    Wide name(u"mrvtest\\Parameters");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, services, nullptr);
    HANDLE key = nullptr;
    EXPECT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_SUCCESS);
    ZwClose(key);
    ZwClose(services);
}

TEST_F(Registry, CreateMakesOnlyTheLastComponent)
{
    Wide name(u"\\Registry\\Machine\\Software\\Marvolan");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    EXPECT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition),
              STATUS_OBJECT_NAME_NOT_FOUND);
    kmsim::CreateKey("\\Registry\\Machine\\Software");
    EXPECT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_CREATED_NEW_KEY));
    ZwClose(key);
    EXPECT_EQ(ZwCreateKey(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG(REG_OPENED_EXISTING_KEY));
    ZwClose(key);
}

// The size-query protocol, for each information class.
struct SizeCase {
    const char* name;
    KEY_VALUE_INFORMATION_CLASS kind;
    ULONG header;  // fixed part
};

class RegistrySizeQuery : public Registry, public testing::WithParamInterface<SizeCase> {};

TEST_P(RegistrySizeQuery, ReportsTheSizeNeededAtEveryBufferLength)
{
    const SizeCase& c = GetParam();
    HANDLE key = Open(kParametersWide);
    Wide value(u"DontHideKinetraPorts");
    ULONG needed = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &value, c.kind, nullptr, 0, &needed), STATUS_BUFFER_TOO_SMALL);
    ASSERT_GT(needed, c.header);
    std::vector<UCHAR> buffer(needed + 8, 0xEE);
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &value, c.kind, buffer.data(), c.header - 1, &result), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(result, needed);
    EXPECT_EQ(buffer[0], 0xEE);  // nothing written
    EXPECT_EQ(ZwQueryValueKey(key, &value, c.kind, buffer.data(), c.header, &result), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(result, needed);
    ULONG type;
    memcpy(&type, buffer.data() + 4, 4);  // the header is filled
    EXPECT_EQ(type, ULONG(REG_DWORD));
    EXPECT_EQ(ZwQueryValueKey(key, &value, c.kind, buffer.data(), needed - 1, &result), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(ZwQueryValueKey(key, &value, c.kind, buffer.data(), needed, &result), STATUS_SUCCESS);
    EXPECT_EQ(result, needed);
    ZwClose(key);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistrySizeQuery,
                         testing::Values(SizeCase{"Partial", KeyValuePartialInformation,
                                                  ULONG(FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data))},
                                         SizeCase{"Basic", KeyValueBasicInformation,
                                                  ULONG(FIELD_OFFSET(KEY_VALUE_BASIC_INFORMATION, Name))},
                                         SizeCase{"Full", KeyValueFullInformation,
                                                  ULONG(FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name))}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registry, PartialInformationCarriesTypeAndData)
{
    HANDLE key = Open(kParametersWide);
    Wide value(u"dontHIDEkinetraports");
    alignas(8) UCHAR buffer[64];
    ULONG result = 0;
    ASSERT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, sizeof buffer, &result), STATUS_SUCCESS);
    auto info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    EXPECT_EQ(info->Type, ULONG(REG_DWORD));
    EXPECT_EQ(info->DataLength, 4u);
    ULONG data;
    memcpy(&data, info->Data, 4);
    EXPECT_EQ(data, 1u);
    ZwClose(key);
}

TEST_F(Registry, FullInformationCarriesNameAndData)
{
    HANDLE key = Open(kParametersWide);
    Wide value(u"Name");
    alignas(8) UCHAR buffer[64];
    ULONG result = 0;
    ASSERT_EQ(ZwQueryValueKey(key, &value, KeyValueFullInformation, buffer, sizeof buffer, &result), STATUS_SUCCESS);
    auto info = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(buffer);
    EXPECT_EQ(info->Type, ULONG(REG_SZ));
    EXPECT_EQ(info->NameLength, 8u);
    EXPECT_EQ(std::u16string(info->Name, 4), u"Name");
    EXPECT_EQ(info->DataLength, 8u);  // "abc" and the terminator
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer + info->DataOffset)), u"abc");
    ZwClose(key);
}

TEST_F(Registry, MissingValueIsNotFound)
{
    HANDLE key = Open(kParametersWide);
    Wide value(u"Missing");
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, nullptr, 0, &result),
              STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(key);
}

TEST_F(Registry, SetAndDeleteValueNeedWriteAccess)
{
    HANDLE readOnly = Open(kParametersWide, GENERIC_READ);
    Wide value(u"UrbSize");
    ULONG data = 4;
    EXPECT_EQ(ZwSetValueKey(readOnly, &value, 0, REG_DWORD, &data, sizeof data), STATUS_ACCESS_DENIED);
    ZwClose(readOnly);

    HANDLE key = Open(kParametersWide, KEY_ALL_ACCESS);
    EXPECT_EQ(ZwSetValueKey(key, &value, 0, REG_DWORD, &data, sizeof data), STATUS_SUCCESS);
    EXPECT_EQ(kmsim::GetDword(kParameters, "UrbSize"), 4u);
    EXPECT_EQ(ZwDeleteValueKey(key, &value), STATUS_SUCCESS);
    EXPECT_EQ(ZwDeleteValueKey(key, &value), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(kmsim::GetValue(kParameters, "UrbSize"));
    ZwClose(key);
}

TEST_F(Registry, HandleToADeletedKeyFailsCleanly)
{
    HANDLE key = Open(kParametersWide, KEY_ALL_ACCESS);
    kmsim::DeleteKey(kParameters);
    Wide value(u"Name");
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, nullptr, 0, &result), STATUS_KEY_DELETED);
    ULONG data = 1;
    EXPECT_EQ(ZwSetValueKey(key, &value, 0, REG_DWORD, &data, sizeof data), STATUS_KEY_DELETED);
    ZwClose(key);
}

TEST_F(Registry, ClosingTwiceOrUsingAClosedHandleIsReported)
{
    HANDLE key = Open(kParametersWide);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    kmsim::ExpectViolations violations;
    EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);
    Wide value(u"Name");
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &value, KeyValuePartialInformation, nullptr, 0, &result), STATUS_INVALID_HANDLE);
    EXPECT_EQ(violations.Count("handle"), 2u);
    EXPECT_TRUE(violations.Saw("handle", "already closed"));
}

TEST_F(Registry, OpenHandlesAreCounted)
{
    HANDLE a = Open(kParametersWide);
    HANDLE b = Open(kParametersWide);
    EXPECT_NE(a, b);
    EXPECT_EQ(kmsim::OpenKeyHandleCount(), handlesBefore + 2);
    ZwClose(a);
    ZwClose(b);
}

TEST_F(Registry, RegistryRoutinesAbovePassiveLevelAreReported)
{
    KIRQL old;
    KeRaiseIrql(APC_LEVEL, &old);
    {
        kmsim::ExpectViolations violations;
        HANDLE key = Open(kParametersWide);
        EXPECT_TRUE(violations.Saw("irql", "ZwOpenKey"));
        ZwClose(key);
    }
    KeLowerIrql(old);
}

TEST_F(Registry, DeviceKeysResolveThroughTheirBinding)
{
    DEVICE_OBJECT pdo{};
    HANDLE key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_INVALID_DEVICE_REQUEST);
    const std::string driverKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\{x}\\0001";
    const std::string deviceKey = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\USB\\VID_3A1E\\1";
    kmsim::BindDeviceRegistryKeys(&pdo, deviceKey, driverKey);
    ASSERT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
    EXPECT_TRUE(kmsim::KeyExists(driverKey));  // created on first open
    Wide value(u"UrbSize");
    ULONG data = 5;
    ZwSetValueKey(key, &value, 0, REG_DWORD, &data, sizeof data);
    ZwClose(key);
    EXPECT_EQ(kmsim::GetDword(driverKey, "UrbSize"), 5u);
    ASSERT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key), STATUS_SUCCESS);
    ZwClose(key);
    EXPECT_TRUE(kmsim::KeyExists(deviceKey));
    kmsim::UnbindDeviceRegistryKeys(&pdo);
    EXPECT_EQ(IoOpenDeviceRegistryKey(&pdo, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key), STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(Registry, InterfaceKeysResolveThroughTheirBindingWithoutRegardToCase)
{
    const std::u16string link = u"\\??\\USB#VID_3A1E&PID_000B#5&1#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\GLOBAL";
    const std::string keyPath = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses\\x\\#GLOBAL\\Device Parameters";
    kmsim::BindInterfaceRegistryKey(link, keyPath);
    std::u16string lower = link;
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    }
    Wide name(lower.c_str());
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceInterfaceRegistryKey(&name, KEY_ALL_ACCESS, &key), STATUS_SUCCESS);
    Wide value(u"FriendlyName");
    const char16_t text[] = u"Device";
    ZwSetValueKey(key, &value, 0, REG_SZ, (PVOID)text, sizeof text);
    ZwClose(key);
    EXPECT_EQ(kmsim::GetString(keyPath, "FriendlyName"), "Device");
    kmsim::UnbindInterfaceRegistryKey(link);
    EXPECT_EQ(IoOpenDeviceInterfaceRegistryKey(&name, KEY_ALL_ACCESS, &key), STATUS_OBJECT_NAME_NOT_FOUND);
}

}  // namespace
