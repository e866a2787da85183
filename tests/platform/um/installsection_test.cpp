// Install sections run as Windows' installer runs them: AddReg lines of
// every value type with HKR standing for the caller's key, the sections a
// section Needs from the system INF files it Includes, and a clear error
// for what does not read.
#include <windows.h>
#include <setupapi.h>

#include "um/setupapi/installsection.h"
#include "scratchwindowsroot.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr char kTestKey[] = "SOFTWARE\\MrvInstallSectionTest";

class InstallSection : public testing::Test {
protected:
    void SetUp() override
    {
        m_root.emplace("installsection_test");
        ASSERT_TRUE(m_root->Root().Opened()) << m_root->Root().Error();
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_hkr, NULL),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(m_hkr);
        m_root.reset();
    }

    // Runs [Install] of an INF made of `sections` (a [Version] is added).
    DWORD Run(const std::string& sections)
    {
        const std::string path = "C:\\Packages\\test.inf";
        auto host = umsim::WindowsRoot::HostPath(path);
        std::filesystem::create_directories(std::filesystem::path(*host).parent_path());
        std::ofstream(*host) << "[Version]\nSignature=\"$Windows NT$\"\n" << sections;
        HINF inf = SetupOpenInfFileA(path.c_str(), NULL, INF_STYLE_WIN4, NULL);
        if (inf == INVALID_HANDLE_VALUE) return GetLastError();
        DWORD error = umsim::RunInstallSection(inf, path, "Install", m_hkr);
        SetupCloseInfFile(inf);
        return error;
    }

    // A value of a key: its type and bytes, or "" for none.
    static std::string Value(HKEY root, const char* subkey, const char* name, DWORD* type = nullptr)
    {
        char data[64];
        DWORD size = sizeof data;
        HKEY key;
        if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
        LONG result = RegQueryValueExA(key, name, NULL, type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? std::string(data, size) : std::string();
    }
    std::string Value(const char* subkey, const char* name, DWORD* type = nullptr)
    {
        return Value(m_hkr, subkey, name, type);
    }

    std::optional<umtest::ScratchWindowsRoot> m_root;
    HKEY m_hkr = NULL;
};

TEST_F(InstallSection, AddRegWritesEveryValueTypeUnderHkrAndKeepsWhatNoClobberProtects)
{
    const char kept[] = "user's";
    RegSetValueExA(m_hkr, "Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(kept), sizeof kept);
    ASSERT_EQ(Run("[Install]\nAddReg=Values\n"
                  "[Values]\n"
                  "HKR,,Text,,\"a,b\"\n"
                  "HKR,Sub\\Key,Expand,0x00020000,%%SystemRoot%%\\x\n"
                  "HKR,,Multi,0x00010000,one,two\n"
                  "HKR,,Number,0x00010001,0x12345678\n"
                  "HKR,,Bytes,1,01,fe\n"
                  "HKR,,Kept,2,installer's\n"
                  "HKR,Empty,Unused,0x10,ignored\n"
                  "HKLM,SOFTWARE\\MrvInstallSectionTest\\Absolute,,,default\n"),
              DWORD(ERROR_SUCCESS));
    DWORD type = 0;
    EXPECT_EQ(Value("", "Text", &type), std::string("a,b\0", 4));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(Value("Sub\\Key", "Expand", &type), std::string("%SystemRoot%\\x\0", 15));
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    EXPECT_EQ(Value("", "Multi", &type), std::string("one\0two\0\0", 9));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(Value("", "Number", &type), std::string("\x78\x56\x34\x12", 4));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(Value("", "Bytes", &type), std::string("\x01\xfe", 2));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(Value("", "Kept"), std::string(kept, sizeof kept));
    HKEY empty;
    ASSERT_EQ(RegOpenKeyExA(m_hkr, "Empty", 0, KEY_READ, &empty), ERROR_SUCCESS);
    RegCloseKey(empty);
    EXPECT_EQ(Value("Empty", "Unused"), "");
    EXPECT_EQ(Value("Absolute", ""), std::string("default\0", 8));
}

TEST_F(InstallSection, NeededSystemSectionsRunFirstFromTheIncludedInfs)
{
    ASSERT_EQ(Run("[Install]\nInclude=ks.inf,wdmaudio.inf\nNeeds=KS.Registration,WDMAUDIO.Registration\n"), 0u);
    EXPECT_EQ(Value(HKEY_CLASSES_ROOT, "CLSID\\{17CCA71B-ECD7-11D0-B908-00A0C9223196}\\InprocServer32", ""),
              std::string("ksproxy.ax\0", 11));
}

struct FailingSection {
    const char* name;
    const char* sections;
    DWORD error;
};

class InstallSectionFailure : public InstallSection, public testing::WithParamInterface<FailingSection> {};

TEST_P(InstallSectionFailure, FailsWithAClearError)
{
    EXPECT_EQ(Run(GetParam().sections), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    InstallSection, InstallSectionFailure,
    testing::Values(
        FailingSection{"NoSuchSection", "[Other]\n", DWORD(ERROR_SECTION_NOT_FOUND)},
        FailingSection{"NeededSectionInNoFile", "[Install]\nInclude=ks.inf\nNeeds=WDMAUDIO.Registration\n",
                       DWORD(ERROR_SECTION_NOT_FOUND)},
        FailingSection{"IncludedInfMissing", "[Install]\nInclude=nosuch.inf\nNeeds=KS.Registration\n",
                       DWORD(ERROR_SECTION_NOT_FOUND)},
        FailingSection{"AddRegSectionMissing", "[Install]\nAddReg=Nowhere\n", DWORD(ERROR_SECTION_NOT_FOUND)},
        FailingSection{"UnknownRoot", "[Install]\nAddReg=R\n[R]\nHKXX,,Name,,text\n", DWORD(ERROR_INVALID_DATA)},
        FailingSection{"FlagsNotANumber", "[Install]\nAddReg=R\n[R]\nHKR,,Name,0x1g,text\n",
                       DWORD(ERROR_INVALID_DATA)},
        FailingSection{"DwordNotANumber", "[Install]\nAddReg=R\n[R]\nHKR,,Name,0x00010001,12x\n",
                       DWORD(ERROR_INVALID_DATA)},
        FailingSection{"DwordTooLarge", "[Install]\nAddReg=R\n[R]\nHKR,,Name,0x00010001,0x100000000\n",
                       DWORD(ERROR_INVALID_DATA)},
        FailingSection{"ByteNotHex", "[Install]\nAddReg=R\n[R]\nHKR,,Name,1,01,zz\n", DWORD(ERROR_INVALID_DATA)},
        FailingSection{"ByteTooLarge", "[Install]\nAddReg=R\n[R]\nHKR,,Name,1,100\n", DWORD(ERROR_INVALID_DATA)}),
    [](const testing::TestParamInfo<FailingSection>& info) { return std::string(info.param.name); });

}  // namespace
