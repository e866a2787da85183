// The Win32 registry over the store the kernel reads.
#include <windows.h>

#include "um/bridge/kernelbridge.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr char kTestKey[] = "SOFTWARE\\Marvolan\\RegistryTest";
constexpr char kTestPath[] = "\\Registry\\Machine\\SOFTWARE\\Marvolan\\RegistryTest";

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        umsim::bridge::RegistryDeleteKey(kTestPath);
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_key, &m_disposition),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(m_key);
        umsim::bridge::RegistryDeleteKey(kTestPath);
    }
    HKEY m_key = NULL;
    DWORD m_disposition = 0;
};

}  // namespace

TEST_F(Registry, CreatingAKeyTellsWhetherItIsNew)
{
    EXPECT_EQ(m_disposition, DWORD(REG_CREATED_NEW_KEY));
    HKEY again = NULL;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, NULL, 0, KEY_READ, NULL, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);
}

TEST_F(Registry, AStringIsStoredAsTheUtf16TheKernelReads)
{
    const char text[] = "Marvolan";
    ASSERT_EQ(RegSetValueExA(m_key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    auto stored = umsim::bridge::RegistryGetValue(kTestPath, "Name");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, DWORD(REG_SZ));
    ASSERT_EQ(stored->data.size(), 2 * sizeof text);
    EXPECT_EQ(stored->data[0], 'M');
    EXPECT_EQ(stored->data[1], 0);

    char back[32] = {};
    DWORD type = 0, size = sizeof back;
    ASSERT_EQ(RegQueryValueExA(m_key, "Name", NULL, &type, reinterpret_cast<LPBYTE>(back), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, sizeof text);
    EXPECT_STREQ(back, text);
}

TEST_F(Registry, ASizeQueryAndATooSmallBufferReportTheSize)
{
    DWORD value = 0x12345678;
    ASSERT_EQ(RegSetValueExA(m_key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(m_key, "Number", NULL, NULL, NULL, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    BYTE small[2];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(m_key, "Number", NULL, NULL, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    DWORD back = 0;
    size = sizeof back;
    EXPECT_EQ(RegQueryValueExA(m_key, "Number", NULL, NULL, reinterpret_cast<LPBYTE>(&back), &size), ERROR_SUCCESS);
    EXPECT_EQ(back, value);
}

TEST_F(Registry, MissingThingsAreNotFound)
{
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(m_key, "Absent", NULL, NULL, NULL, &size), ERROR_FILE_NOT_FOUND);
    HKEY key = NULL;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Marvolan\\Absent", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegDeleteValueA(m_key, "Absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, AKeyWithSubkeysIsNotDeleted)
{
    HKEY child = NULL;
    ASSERT_EQ(RegCreateKeyExA(m_key, "Child", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &child, NULL), ERROR_SUCCESS);
    RegCloseKey(child);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(m_key, "Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
}

TEST_F(Registry, AnOpenKeyWhoseKeyWasDeletedFails)
{
    umsim::bridge::RegistryDeleteKey(kTestPath);
    DWORD value = 1;
    EXPECT_EQ(RegSetValueExA(m_key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_KEY_DELETED);
}

TEST_F(Registry, ADwordOfAnotherSizeIsRefused)
{
    BYTE three[3] = {1, 2, 3};
    EXPECT_EQ(RegSetValueExA(m_key, "Number", 0, REG_DWORD, three, sizeof three), ERROR_INVALID_PARAMETER);
}

TEST(RegistryRoots, CurrentUserIsItsOwnHive)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Marvolan\\RootTest", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                              NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Marvolan\\RootTest", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Marvolan\\RootTest"), ERROR_SUCCESS);
}

struct AccessCase {
    REGSAM access;
    LONG write;  // RegSetValueExA's result
    LONG read;   // RegQueryValueExA's result
};

class RegistryAccess : public testing::TestWithParam<AccessCase> {};

TEST_P(RegistryAccess, AKeyDoesWhatItWasOpenedFor)
{
    HKEY key = NULL;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Marvolan\\AccessTest", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    DWORD one = 1;
    ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Marvolan\\AccessTest", 0, GetParam().access, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), GetParam().write);
    EXPECT_EQ(RegDeleteValueA(key, "nosuch"), GetParam().write == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : GetParam().write);
    DWORD value = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "v", NULL, NULL, reinterpret_cast<BYTE*>(&value), &size), GetParam().read);
    HKEY sub = NULL;
    EXPECT_EQ(RegCreateKeyExA(key, "sub", 0, NULL, 0, KEY_READ, NULL, &sub, NULL), GetParam().write);
    if (sub) RegCloseKey(sub);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Marvolan\\AccessTest\\sub");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Marvolan\\AccessTest");
}

INSTANTIATE_TEST_SUITE_P(Table, RegistryAccess,
                         testing::Values(AccessCase{KEY_READ, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
                                         AccessCase{KEY_WRITE, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
                                         AccessCase{KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS},
                                         AccessCase{GENERIC_READ, ERROR_ACCESS_DENIED, ERROR_SUCCESS}));

TEST_F(Registry, SubkeysEnumerateByIndexUntilNoMoreItems)
{
    for (const char* name : {"Beta", "alpha"}) {
        HKEY sub = NULL;
        ASSERT_EQ(RegCreateKeyExA(m_key, name, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL), ERROR_SUCCESS);
        RegCloseKey(sub);
    }
    char name[8];
    EXPECT_EQ(RegEnumKeyA(m_key, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "alpha");
    EXPECT_EQ(RegEnumKeyA(m_key, 1, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Beta");
    EXPECT_EQ(RegEnumKeyA(m_key, 2, name, sizeof name), ERROR_NO_MORE_ITEMS);
    DWORD room = 5;  // "alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExA(m_key, 0, name, &room, NULL, NULL, NULL, NULL), ERROR_MORE_DATA);
    DWORD subkeys = 0, longest = 0;
    EXPECT_EQ(RegQueryInfoKeyA(m_key, NULL, NULL, NULL, &subkeys, &longest, NULL, NULL, NULL, NULL, NULL, NULL),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(longest, 5u);
    HKEY readOnly = NULL;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_QUERY_VALUE, &readOnly), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyA(readOnly, 0, name, sizeof name), ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);
}
