// The driver package's INF as Windows setup reads it: one models line per
// product the kernel driver serves, a complete kernel-driver service, the
// filter's interface categories, the co-installer marker, and files that
// all have a destination.
#include <windows.h>
#include <setupapi.h>

#include "packageversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace {

// The products the kernel driver enumerates by id, and the class-compliant
// product that takes its generic walk.
constexpr unsigned kProducts[] = {0x0A, 0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x12, 0x0100};

class PackageInf : public testing::Test {
protected:
    void SetUp() override
    {
        m_inf = SetupOpenInfFileA(MRV_PACKAGE_INF, "MEDIA", INF_STYLE_WIN4, &m_errorLine);
        ASSERT_NE(m_inf, INVALID_HANDLE_VALUE) << "error " << std::hex << GetLastError() << " at line " << m_errorLine;
    }
    void TearDown() override { SetupCloseInfFile(m_inf); }

    std::string Field(INFCONTEXT& context, DWORD index)
    {
        char text[MAX_INF_STRING_LENGTH];
        return SetupGetStringFieldA(&context, index, text, sizeof text, NULL) ? text : "<missing>";
    }
    std::string Value(PCSTR section, PCSTR key, DWORD index = 1)
    {
        INFCONTEXT context;
        return SetupFindFirstLineA(m_inf, section, key, &context) ? Field(context, index) : "<no line>";
    }
    // Every line of a section as its fields 1..n.
    std::vector<std::vector<std::string>> Lines(PCSTR section)
    {
        std::vector<std::vector<std::string>> lines;
        INFCONTEXT context;
        for (BOOL more = SetupFindFirstLineA(m_inf, section, NULL, &context); more;
             more = SetupFindNextLine(&context, &context)) {
            std::vector<std::string> fields;
            for (DWORD i = 1; i <= SetupGetFieldCount(&context); ++i) fields.push_back(Field(context, i));
            lines.push_back(fields);
        }
        return lines;
    }

    HINF m_inf = INVALID_HANDLE_VALUE;
    UINT m_errorLine = 0;
};

TEST_F(PackageInf, VersionNamesTheMediaClassAndThisPackagesVersion)
{
    EXPECT_EQ(Value("Version", "ClassGuid"), "{4d36e96c-e325-11ce-bfc1-08002be10318}");
    EXPECT_EQ(Value("Version", "Provider"), MRV_COMPANY_NAME);
    char version[32];
    snprintf(version, sizeof version, "%d.%d.%d.%d", MRV_VERSION_MAJOR, MRV_VERSION_MINOR, MRV_VERSION_STAGE,
             MRV_VERSION_BUILD);
    EXPECT_EQ(Value("Version", "DriverVer", 2), version);
    EXPECT_EQ(Value("Version", "CatalogFile"), "mrvusbaudio.cat");
}

TEST_F(PackageInf, EveryPlatformsModelsListTheDriversProducts)
{
    std::set<std::string> expected;
    for (unsigned product : kProducts) {
        char id[32];
        snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X", unsigned(MRV_VENDOR_ID), product);
        expected.insert(id);
    }
    auto manufacturer = Lines("Manufacturer");
    ASSERT_EQ(manufacturer.size(), 1u);
    ASSERT_EQ(manufacturer[0].size(), 3u);
    for (const char* decoration : {"NTx86", "NTamd64"}) {
        EXPECT_NE(std::find(manufacturer[0].begin(), manufacturer[0].end(), decoration), manufacturer[0].end());
        std::string models = manufacturer[0][0] + "." + decoration;
        std::set<std::string> listed;
        for (const auto& line : Lines(models.c_str())) {
            ASSERT_EQ(line.size(), 2u) << models;
            EXPECT_GE(SetupGetLineCountA(m_inf, line[0].c_str()), 1) << line[0];
            listed.insert(line[1]);
        }
        EXPECT_EQ(listed, expected) << models;
    }
}

TEST_F(PackageInf, TheServiceIsADemandStartKernelDriverInTheDriversFolder)
{
    auto services = Lines("MrvUsbAudio.Services");
    ASSERT_EQ(services.size(), 1u);
    ASSERT_EQ(services[0].size(), 3u);
    EXPECT_EQ(services[0][0], "mrvusbaudio");
    EXPECT_EQ(services[0][1], "0x00000002");  // the device's function driver
    PCSTR service = services[0][2].c_str();
    EXPECT_EQ(Value(service, "ServiceType"), "1");
    EXPECT_EQ(Value(service, "StartType"), "3");
    EXPECT_EQ(Value(service, "ErrorControl"), "1");
    EXPECT_EQ(Value(service, "ServiceBinary"), "C:\\Windows\\System32\\drivers\\mrvusbaudio.sys");
    EXPECT_NE(Value(service, "DisplayName"), "<no line>");
}

TEST_F(PackageInf, TheFilterCategoriesAreRegisteredWithTheGlobalReference)
{
    std::set<std::string> categories;
    for (const auto& line : Lines("MrvUsbAudio.Interfaces")) {
        ASSERT_EQ(line.size(), 3u);
        EXPECT_EQ(line[1], "GLOBAL");
        EXPECT_GE(SetupGetLineCountA(m_inf, line[2].c_str()), 1);
        categories.insert(line[0]);
    }
    EXPECT_EQ(categories, (std::set<std::string>{"{6994AD04-93EF-11D0-A3CC-00A0C9223196}",
                                                 "{65E8773E-8F56-11D0-A3B9-00A0C9223196}",
                                                 "{65E8773D-8F56-11D0-A3B9-00A0C9223196}"}));
}

TEST_F(PackageInf, TheCoInstallerMarkerReadsAsTheCoInstallerReadsIt)
{
    char marker[260];
    GetPrivateProfileStringA("CustomClassCoInstaller", "UseClassCoInstaller", "NULL", marker, sizeof marker,
                             MRV_PACKAGE_INF);
    EXPECT_STREQ(marker, "mrvusbaudio_coinst.dll");
    char infClass[260];
    GetPrivateProfileStringA("Version", "Class", "NULL", infClass, sizeof infClass, MRV_PACKAGE_INF);
    EXPECT_STREQ(infClass, "MEDIA");
}

TEST_F(PackageInf, EveryShippedFileIsCopiedToItsFolder)
{
    std::map<std::string, std::string> destination;  // copy list -> directory id
    INFCONTEXT context;
    for (BOOL more = SetupFindFirstLineA(m_inf, "DestinationDirs", NULL, &context); more;
         more = SetupFindNextLine(&context, &context)) {
        destination[Field(context, 0)] = Field(context, 1);
    }
    std::map<std::string, std::string> copied;  // file -> directory id
    for (const char* list : {"MrvUsbAudio.CopyList", "MrvUsbAudio.CoInstaller.CopyList"}) {
        ASSERT_TRUE(destination.count(list)) << list;
        for (const auto& line : Lines(list)) copied[line[0]] = destination[list];
    }
    EXPECT_EQ(copied, (std::map<std::string, std::string>{{"mrvusbaudio.sys", "12"}, {"mrvusbaudio_coinst.dll", "11"}}));
    for (const auto& [file, folder] : copied) EXPECT_EQ(Value("SourceDisksFiles", file.c_str()), "1") << file;
}

}  // namespace
