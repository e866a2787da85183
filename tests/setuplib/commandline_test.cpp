// mrvsetuputil's command line: the splitter into the argument table and the
// command table's names and word counts.
#include "setupcommands.h"

#include "um/desktop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
    std::string line;
    std::vector<std::string> words;
};

std::vector<std::string> Words(const ArgumentTable& table)
{
    return std::vector<std::string>(table.words, table.words + table.count);
}

}  // namespace

class Splitter : public testing::TestWithParam<SplitCase> {};

TEST_P(Splitter, GivesTheWords)
{
    ArgumentTable table;
    ASSERT_TRUE(SplitCommandLine(GetParam().line.c_str(), &table));
    EXPECT_EQ(Words(table), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Splitter,
    testing::Values(
        SplitCase{"", {}}, SplitCase{"   ", {}},
        SplitCase{"InstallOemInf  a.inf   C:\\pkg ", {"InstallOemInf", "a.inf", "C:\\pkg"}},
        // A quoted operand keeps its spaces and loses its quotes.
        SplitCase{"InstallOemInf \"C:\\My Drivers\\a.inf\" x", {"InstallOemInf", "C:\\My Drivers\\a.inf", "x"}},
        // An empty quoted word is no word at all.
        SplitCase{"InstallOemInfs \"\" C:\\pkg", {"InstallOemInfs", "C:\\pkg"}},
        // Tabs belong to words.
        SplitCase{"CheckPendingInstallEvents\tx", {"CheckPendingInstallEvents\tx"}},
        // A word ends at its closing quote even when no space follows.
        SplitCase{"\"a b\"c d", {"a b", "c", "d"}}, SplitCase{"ab\"cd ef", {"ab\"cd", "ef"}},
        // An unclosed quote runs to the end of the line.
        SplitCase{"InstallOemInfs \"C:\\My pkg", {"InstallOemInfs", "C:\\My pkg"}},
        SplitCase{"x \"", {"x"}}));

TEST(Splitter, TakesEightWordsAndWordsOf259Characters)
{
    ArgumentTable table;
    ASSERT_TRUE(SplitCommandLine("1 2 3 4 5 6 7 8", &table));
    EXPECT_EQ(table.count, 8);
    const std::string longest(MAX_PATH - 1, 'w');
    ASSERT_TRUE(SplitCommandLine(("InstallOemInfs \"" + longest + "\"").c_str(), &table));
    EXPECT_EQ(std::string(table.words[1]), longest);
}

TEST(Splitter, RefusesANinthWordOrAWordOf260Characters)
{
    ArgumentTable table;
    EXPECT_FALSE(SplitCommandLine("1 2 3 4 5 6 7 8 9", &table));
    EXPECT_FALSE(SplitCommandLine(("InstallOemInfs " + std::string(MAX_PATH, 'w')).c_str(), &table));
    EXPECT_FALSE(SplitCommandLine(("\"" + std::string(100000, 'w')).c_str(), &table));
}

struct CommandCase {
    std::string line;
    bool accepted;
};

class CommandTable : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandTable, AcceptsExactNamesWithTheirWordCounts)
{
    ArgumentTable table;
    ASSERT_TRUE(SplitCommandLine(GetParam().line.c_str(), &table));
    EXPECT_EQ(FindSetupCommand(table) != NULL, GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, CommandTable,
    testing::Values(CommandCase{"UpdateDriverForPnpDev USB\\VID_3A1E&PID_0010 a.inf", true},
                    CommandCase{"UpdateDriverForModels a.inf Models.NTamd64", true},
                    CommandCase{"InstallOemInf a.inf C:\\pkg", true}, CommandCase{"InstallOemInfs C:\\pkg", true},
                    CommandCase{"ReinstallDriverForUnpluggedModels a.inf Models", true},
                    CommandCase{"CheckPendingInstallEvents", true},
                    // Names are case-sensitive.
                    CommandCase{"installoeminf a.inf C:\\pkg", false},
                    CommandCase{"CHECKPENDINGINSTALLEVENTS", false},
                    // The word count is the command's own, no more and no less.
                    CommandCase{"InstallOemInfs C:\\pkg extra", false}, CommandCase{"InstallOemInfs", false},
                    CommandCase{"CheckPendingInstallEvents now", false},
                    CommandCase{"UpdateDriverForModels a.inf", false},
                    // An empty quoted operand does not count.
                    CommandCase{"InstallOemInf a.inf \"\"", false}, CommandCase{"", false},
                    CommandCase{"InstallOemInfsX C:\\pkg", false}));

TEST(InvalidArguments, BoxShowsTheWholeLineWithNoOwner)
{
    umsim::ResetDesktop();
    ShowInvalidArguments("installoeminf \"a b.inf\" C:\\pkg");
    auto boxes = umsim::MessageBoxesShown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "installoeminf \"a b.inf\" C:\\pkg");
    EXPECT_EQ(boxes[0].caption, "mrvsetuputil - invalid arguments");
    EXPECT_EQ(boxes[0].flags, uint32_t(MB_OK));
    EXPECT_EQ(boxes[0].owner, nullptr);
    umsim::ResetDesktop();
}
