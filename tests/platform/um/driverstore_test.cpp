// The driver store of a fresh virtual Windows root: the system's generic
// USB audio package is there, and SetupCopyOEMInfA stores a package once
// under "oemN.inf" with its source location beside it.
#include <windows.h>
#include <setupapi.h>

#include "um/setupapi/driverstore.h"
#include "um/windowsroot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace {

class DriverStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_directory = std::filesystem::path(testing::TempDir()) / "driverstore_test";
        std::filesystem::remove_all(m_directory);
        m_root = std::make_unique<umsim::WindowsRoot>(m_directory.string());
        ASSERT_TRUE(m_root->Opened()) << m_root->Error();
        m_package = m_directory / "package";
        std::filesystem::create_directories(m_package);
    }
    void TearDown() override
    {
        m_root.reset();
        std::filesystem::remove_all(m_directory);
    }
    std::string WritePackage(const std::string& name, const std::string& provider)
    {
        std::string path = (m_package / name).string();
        std::ofstream(path, std::ios::binary) << "[Version]\nSignature=\"$Windows NT$\"\nClass=MEDIA\nProvider="
                                              << provider << "\n";
        return path;
    }
    // Stores the INF and returns the name it got (or the error).
    std::string Store(const std::string& path, DWORD style = 0)
    {
        char name[MAX_PATH] = {};
        if (!SetupCopyOEMInfA(path.c_str(), m_package.string().c_str(), SPOST_PATH, style, name, sizeof name, NULL,
                              NULL)) {
            return "error " + std::to_string(GetLastError());
        }
        return name;
    }

    std::filesystem::path m_directory;
    std::filesystem::path m_package;
    std::unique_ptr<umsim::WindowsRoot> m_root;
};

TEST_F(DriverStoreTest, AFreshRootHasTheGenericUsbAudioPackage)
{
    HINF inf = SetupOpenInfFileA("C:\\Windows\\INF\\wdma_usb.inf", "MEDIA", INF_STYLE_WIN4, NULL);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE) << GetLastError();
    char text[MAX_PATH];
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineA(inf, "Version", "ClassGuid", &context));
    ASSERT_TRUE(SetupGetStringFieldA(&context, 1, text, sizeof text, NULL));
    EXPECT_STREQ(text, "{4d36e96c-e325-11ce-bfc1-08002be10318}");
    ASSERT_EQ(SetupGetLineCountA(inf, "Generic.NTamd64"), 3);
    ASSERT_TRUE(SetupGetLineByIndexA(inf, "Generic.NTamd64", 0, &context));
    ASSERT_TRUE(SetupGetStringFieldA(&context, 2, text, sizeof text, NULL));
    EXPECT_STREQ(text, "USB\\Class_01&SubClass_01&Prot_00");
    ASSERT_TRUE(SetupFindFirstLineA(inf, "USBAudio.Service", "ServiceBinary", &context));
    ASSERT_TRUE(SetupGetStringFieldA(&context, 1, text, sizeof text, NULL));
    EXPECT_STREQ(text, "C:\\Windows\\System32\\drivers\\usbaudio.sys");
    SetupCloseInfFile(inf);
    EXPECT_FALSE(umsim::IsOemInf("C:\\Windows\\INF\\wdma_usb.inf"));
}

TEST_F(DriverStoreTest, APackageIsStoredOnceWithItsSourceRecorded)
{
    std::string first = WritePackage("first.inf", "One");
    std::string second = WritePackage("second.inf", "Two");
    EXPECT_EQ(Store(first), "C:\\Windows\\INF\\oem0.inf");
    EXPECT_EQ(Store(second), "C:\\Windows\\INF\\oem1.inf");
    EXPECT_EQ(Store(first), "C:\\Windows\\INF\\oem0.inf");
    EXPECT_TRUE(umsim::IsOemInf("C:\\Windows\\INF\\oem1.inf"));
    EXPECT_FALSE(umsim::IsOemInf(first));
    EXPECT_EQ(umsim::DriverStoreSourcePath("C:\\Windows\\INF\\oem1.inf"), m_package.string());
    EXPECT_EQ(umsim::DriverStoreSourcePath("C:\\Windows\\INF\\wdma_usb.inf"), std::nullopt);

    // The stored copy reads as the package does.
    HINF inf = SetupOpenInfFileA("oem1.inf", "MEDIA", INF_STYLE_WIN4, NULL);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    SetupCloseInfFile(inf);

    // A freed number is taken again before a new one.
    std::filesystem::remove(m_directory / "c" / "windows" / "inf" / "oem0.inf");
    EXPECT_EQ(Store(WritePackage("third.inf", "Three")), "C:\\Windows\\INF\\oem0.inf");
}

TEST_F(DriverStoreTest, NoOverwriteNamesTheStoredCopyAndFails)
{
    std::string package = WritePackage("first.inf", "One");
    ASSERT_EQ(Store(package), "C:\\Windows\\INF\\oem0.inf");
    char name[MAX_PATH] = {};
    PSTR component = NULL;
    DWORD required = 0;
    EXPECT_FALSE(SetupCopyOEMInfA(package.c_str(), "D:\\", SPOST_PATH, SP_COPY_NOOVERWRITE, name, sizeof name,
                                  &required, &component));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_STREQ(name, "C:\\Windows\\INF\\oem0.inf");
    EXPECT_STREQ(component, "oem0.inf");
    EXPECT_EQ(required, 24u);
    EXPECT_EQ(umsim::DriverStoreSourcePath("C:\\Windows\\INF\\oem0.inf"), m_package.string());
}

TEST_F(DriverStoreTest, TheNameBufferFollowsTheSizeRules)
{
    std::string package = WritePackage("first.inf", "One");
    DWORD required = 0;
    EXPECT_TRUE(SetupCopyOEMInfA(package.c_str(), NULL, SPOST_NONE, 0, NULL, 0, &required, NULL));
    EXPECT_EQ(required, 24u);
    char small[23];
    EXPECT_FALSE(SetupCopyOEMInfA(package.c_str(), NULL, SPOST_NONE, 0, small, sizeof small, &required, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(umsim::DriverStoreSourcePath("C:\\Windows\\INF\\oem0.inf"), std::nullopt);
}

TEST_F(DriverStoreTest, WhatIsNotAWindowsInfIsRefused)
{
    EXPECT_EQ(Store((m_package / "missing.inf").string()), "error 2");
    std::string notInf = (m_package / "notes.inf").string();
    std::ofstream(notInf) << "[Notes]\nx=1\n";
    EXPECT_EQ(Store(notInf), "error " + std::to_string(DWORD(ERROR_WRONG_INF_STYLE)));
    EXPECT_FALSE(SetupCopyOEMInfA(notInf.c_str(), NULL, SPOST_PATH, 0, NULL, 0, NULL, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(DriverStoreTest, InstallersRunningAtOnceGetOneNameEachPackage)
{
    std::vector<std::string> packages;
    for (int i = 0; i < 4; ++i) packages.push_back(WritePackage("p" + std::to_string(i) + ".inf", std::to_string(i)));
    std::vector<std::string> names(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < names.size(); ++t) {
        threads.emplace_back([&, t] { names[t] = Store(packages[t % packages.size()]); });
    }
    for (auto& thread : threads) thread.join();
    std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct.size(), packages.size());
    for (size_t t = 0; t < packages.size(); ++t) EXPECT_EQ(names[t], names[t + packages.size()]);
}

}  // namespace
