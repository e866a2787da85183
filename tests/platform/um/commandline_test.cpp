// The process command line as a Windows program sees it: formed from the
// host's arguments, and handed to WinMain without the program name.
#include "um/commandline.h"

#include <windows.h>

#include <gtest/gtest.h>

TEST(CommandLine, WordsWithBlanksOrQuotesAreQuotedAsTheRuntimeReadsThemBack)
{
    const char* argv[] = {"/opt/tools/mrvsetuputil", "InstallOemInf", "C:\\My Drivers\\x.inf", "", "a\"b",
                          "tab\there", "end\\ with\\"};
    EXPECT_EQ(umsim::WindowsCommandLine(7, argv),
              "/opt/tools/mrvsetuputil InstallOemInf \"C:\\My Drivers\\x.inf\" \"\" \"a\\\"b\" \"tab\there\" "
              "\"end\\ with\\\\\"");
}

TEST(CommandLine, GetCommandLineReportsWhatStartUpSet)
{
    umsim::SetProcessCommandLine("prog CheckPendingInstallEvents");
    EXPECT_STREQ(GetCommandLineA(), "prog CheckPendingInstallEvents");
    umsim::SetProcessCommandLine("");
}

struct ProgramNameCase {
    const char* commandLine;
    const char* rest;
};

class ProgramNameRemoval : public testing::TestWithParam<ProgramNameCase> {};

TEST_P(ProgramNameRemoval, LeavesWhatWinMainReceives)
{
    EXPECT_STREQ(umsim::CommandLineAfterProgramName(GetParam().commandLine), GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ProgramNameRemoval,
    testing::Values(ProgramNameCase{"mrvsetuputil.exe InstallOemInfs C:\\pkg", "InstallOemInfs C:\\pkg"},
                    // A quoted name ends at its closing quote, spaces inside and all.
                    ProgramNameCase{"\"C:\\Program Files\\x.exe\" a b", "a b"},
                    ProgramNameCase{"\"C:\\x.exe\"rest", "rest"},
                    // Tabs and other control characters end a name and are skipped after it.
                    ProgramNameCase{"x.exe\t \targ", "arg"},
                    ProgramNameCase{"x.exe", ""}, ProgramNameCase{"\"unclosed name", ""},
                    ProgramNameCase{"", ""}, ProgramNameCase{"x.exe   \"quoted arg\"  ", "\"quoted arg\"  "}));
