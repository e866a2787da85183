// The co-installer's registration for a setup class under CoDeviceInstallers,
// against the emulated registry.
#include "coinstallerlist.h"
#include "ownfilename.h"
#include "registration.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const char kMedia[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
const char kOwnEntry[] = "mrvusbaudio_coinst.dll,ClassCoInstaller_Entry";
const std::string kMissing = "<missing>";

class Registration : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_key, NULL),
                  ERROR_SUCCESS);
        RegDeleteValueA(m_key, kMedia);
        RememberOwnFileName("C:\\Windows\\System32\\mrvusbaudio_coinst.dll");
    }
    void TearDown() override
    {
        RegDeleteValueA(m_key, kMedia);
        RegCloseKey(m_key);
        ForgetOwnFileName();
    }

    void Set(DWORD type, const std::string& bytes)
    {
        ASSERT_EQ(RegSetValueExA(m_key, kMedia, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 DWORD(bytes.size())),
                  ERROR_SUCCESS);
    }
    // The value's bytes, or kMissing.
    std::string Value(DWORD* type = nullptr)
    {
        DWORD size = 0, valueType = 0;
        if (RegQueryValueExA(m_key, kMedia, NULL, &valueType, NULL, &size) != ERROR_SUCCESS) return kMissing;
        std::string bytes(size, '\0');
        RegQueryValueExA(m_key, kMedia, NULL, &valueType, reinterpret_cast<BYTE*>(bytes.data()), &size);
        if (type) *type = valueType;
        return bytes;
    }

    HKEY m_key = NULL;
};

std::string List(std::initializer_list<std::string> entries)
{
    std::string bytes;
    for (const std::string& entry : entries) bytes += entry + '\0';
    return bytes + '\0';
}

}  // namespace

TEST(OwnFileName, IsThePartAfterTheLastBackslashAndNoneWithout)
{
    RememberOwnFileName("C:\\Windows\\System32\\MrvUsbAudio_CoInst.dll");
    EXPECT_STREQ(g_ownFileName, "MrvUsbAudio_CoInst.dll");
    RememberOwnFileName("/usr/lib/mrvusbaudio_coinst.so");
    EXPECT_STREQ(g_ownFileName, "");
    RememberOwnFileName("C:\\x.dll");
    ForgetOwnFileName();
    EXPECT_STREQ(g_ownFileName, "");
}

TEST_F(Registration, RegisteringTwiceLeavesOneEntry)
{
    EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Value(&type), List({kOwnEntry}));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
}

TEST_F(Registration, AnEntryIsAppendedAfterTheOthers)
{
    Set(REG_MULTI_SZ, List({"other.dll,Entry", "MRVUSBAUDIO_COINST.DLL,ClassCoInstaller_Entry"}));
    EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    // Adding matches case-sensitively, so the upper-case entry is another one.
    EXPECT_EQ(Value(), List({"other.dll,Entry", "MRVUSBAUDIO_COINST.DLL,ClassCoInstaller_Entry", kOwnEntry}));
}

TEST_F(Registration, ATextThatIsNoClassGuidDoesNothing)
{
    for (const char* text : {"4d36e96c-e325-11ce-bfc1-08002be10318", "{4d36e96c", " {x}", ""}) {
        EXPECT_EQ(RegisterClassCoInstaller(text), ERROR_INVALID_PARAMETER) << text;
        EXPECT_EQ(UnregisterClassCoInstaller(text), ERROR_INVALID_PARAMETER) << text;
    }
    EXPECT_EQ(RegisterClassCoInstaller(NULL), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Value(), kMissing);
    // Anything after the closing brace belongs to the value name.
    EXPECT_EQ(RegisterClassCoInstaller("{x} y"), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "{x} y", NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    RegDeleteValueA(key, "{x} y");
    RegCloseKey(key);
}

TEST_F(Registration, WithoutAnOwnNameNothingIsRegistered)
{
    RememberOwnFileName("/build/mrvusbaudio_coinst.so");
    EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Value(), kMissing);
}

TEST_F(Registration, UnregisteringTheOnlyEntryDeletesTheValue)
{
    ASSERT_EQ(RegisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), kMissing);
    // Nothing left to remove is no error.
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registration, UnregisteringRemovesTheFilesEntriesAndKeepsTheOthers)
{
    // Removal matches the first 8 characters of the file name, ignoring
    // case, and then every copy of the entry found.
    Set(REG_MULTI_SZ, List({"ks.dll,Other", "MRVUSBAU.DLL,Old", "x.dll,E", "MRVUSBAU.DLL,Old", kOwnEntry}));
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), List({"ks.dll,Other", "x.dll,E", kOwnEntry}));
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), List({"ks.dll,Other", "x.dll,E"}));
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), List({"ks.dll,Other", "x.dll,E"}));
}

TEST_F(Registration, AListLongerThanAKilobyteIsKeptWhole)
{
    std::string entries;
    for (int i = 0; i < 100; ++i) entries += "vendor" + std::to_string(i) + "_coinstaller.dll,Entry" + '\0';
    const std::string before = entries + '\0';
    ASSERT_GT(before.size(), 1024u);
    Set(REG_MULTI_SZ, before);
    EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), entries + kOwnEntry + '\0' + '\0');
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), before);
}

TEST_F(Registration, AValueOfAnotherTypeIsLeftAsItIs)
{
    const std::string entry = std::string(kOwnEntry) + '\0';
    for (auto [type, data] : {std::pair{DWORD(REG_SZ), entry}, std::pair{DWORD(REG_BINARY), entry},
                              std::pair{DWORD(REG_DWORD), std::string("\1\0\0\0", 4)}}) {
        Set(type, data);
        EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_INVALID_DATA);
        EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_INVALID_DATA);
        DWORD after = 0;
        EXPECT_EQ(Value(&after), data);
        EXPECT_EQ(after, type);
    }
}

TEST_F(Registration, AListWithoutItsClosingNulsIsCompletedNotCut)
{
    Set(REG_MULTI_SZ, "other.dll,Entry");
    EXPECT_EQ(RegisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), List({"other.dll,Entry", kOwnEntry}));

    Set(REG_MULTI_SZ, std::string("a.dll,E\0", 8) + kOwnEntry);
    EXPECT_EQ(UnregisterClassCoInstaller(kMedia), ERROR_SUCCESS);
    EXPECT_EQ(Value(), List({"a.dll,E"}));
}

TEST(CoInstallerListBytes, EndAtTheFirstEmptyString)
{
    const std::string bytes("a\0\0b\0\0", 6);
    CoInstallerList list(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
    EXPECT_EQ(list.Bytes(), std::string("a\0\0", 3));
    EXPECT_FALSE(list.Contains("b"));
    EXPECT_EQ(CoInstallerList(nullptr, 0).Bytes(), std::string(1, '\0'));
}
