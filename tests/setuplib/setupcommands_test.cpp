// mrvsetuputil's commands and their exit codes, where no device is needed.
#include "setupcommands.h"

#include "um/debugoutput.h"
#include "um/desktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char kPackageVersion[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=MEDIA\r\n"
    "ClassGuid={4d36e96c-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Maker%\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Maker=\"Marvolan\"\r\n";

class SetupCommands : public testing::Test {
protected:
    void SetUp() override
    {
        umsim::ResetDesktop();
        umsim::TakeDebugOutput();
        m_folder = std::filesystem::path(testing::TempDir()) / "setupcommands_test";
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
    }
    void TearDown() override
    {
        umsim::ResetDesktop();
        std::filesystem::remove_all(m_folder);
    }

    std::string WriteInf(const std::string& name, const std::string& sections)
    {
        std::filesystem::path path = m_folder / name;
        std::ofstream(path, std::ios::binary) << kPackageVersion << sections;
        return path.string();
    }

    std::filesystem::path m_folder;
};

}  // namespace

TEST_F(SetupCommands, ALineThatIsNoCommandShowsTheBoxAndExitsWithZero)
{
    for (const char* line : {"InstallOemInfs a b", "CheckPendingInstallEvents now", "installoeminf a.inf C:\\pkg",
                             "1 2 3 4 5 6 7 8 9", ""}) {
        EXPECT_EQ(RunSetupCommand(line), 0u) << line;
    }
    auto boxes = umsim::MessageBoxesShown();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[1].text, "CheckPendingInstallEvents now");
    EXPECT_EQ(boxes[1].caption, "mrvsetuputil - invalid arguments");
}

TEST_F(SetupCommands, AnInfThatDoesNotOpenGivesDeadBeef)
{
    const std::string missing = (m_folder / "missing.inf").string();
    EXPECT_EQ(RunSetupCommand(("UpdateDriverForModels \"" + missing + "\" Models").c_str()), 0xDEADBEEFu);
    EXPECT_EQ(RunSetupCommand(("ReinstallDriverForUnpluggedModels \"" + missing + "\" Models").c_str()), 0xDEADBEEFu);
    EXPECT_TRUE(umsim::MessageBoxesShown().empty());
}

TEST_F(SetupCommands, AnEmptyModelsSectionHasACodePerCommand)
{
    const std::string inf = WriteInf("empty.inf", "[Models]\r\n; no devices yet\r\n");
    EXPECT_EQ(RunSetupCommand(("UpdateDriverForModels \"" + inf + "\" Models").c_str()), 0xE000020Bu);
    EXPECT_EQ(RunSetupCommand(("ReinstallDriverForUnpluggedModels \"" + inf + "\" Models").c_str()), 0xDEADFACEu);
    // A section the INF lacks is just as empty.
    EXPECT_EQ(RunSetupCommand(("UpdateDriverForModels \"" + inf + "\" Absent").c_str()), 0xE000020Bu);
}

TEST_F(SetupCommands, ModelsWithoutDevicesAreNoFailure)
{
    const std::string inf =
        WriteInf("models.inf", "[Models]\r\n%Desc%=Install,USB\\VID_3A1E&PID_7777\r\n\r\n[Install]\r\n");
    EXPECT_EQ(RunSetupCommand(("UpdateDriverForModels \"" + inf + "\" Models").c_str()), 0u);
    EXPECT_EQ(RunSetupCommand(("ReinstallDriverForUnpluggedModels \"" + inf + "\" Models").c_str()), 0u);
    EXPECT_EQ(RunSetupCommand(("UpdateDriverForPnpDev USB\\VID_3A1E&PID_7777 \"" + inf + "\"").c_str()), 1u);
}

TEST_F(SetupCommands, InstallOemInfsWithoutItsFolderSaysSoToTheDebugger)
{
    const std::string missing = (m_folder / "no such folder").string();
    EXPECT_EQ(RunSetupCommand(("InstallOemInfs \"" + missing + "\"").c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(umsim::TakeDebugOutput(), "SetupGetInfFileList() failed\n");
}

TEST_F(SetupCommands, NoInstallEventsArePendingInAnIdleMachine)
{
    EXPECT_EQ(RunSetupCommand("CheckPendingInstallEvents"), 0u);
}
