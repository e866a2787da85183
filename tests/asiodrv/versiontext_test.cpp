// The version texts the About box shows for a file's four version words.
#include "versiontext.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    FileVersion version;
    const char* text;
};

class VersionText : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(VersionText, Reads)
{
    char text[16];
    formatVersionText(GetParam().version, text);
    EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Stages, VersionText,
                         ::testing::Values(Case{{1, 5, 128, 4, false}, "1.5.4"},  //
                                           Case{{2, 0, 64, 3, false}, "2.0b3"},   //
                                           Case{{1, 0, 32, 7, false}, "1.0a7"},   //
                                           Case{{3, 1, 96, 2, false}, "3.1fc2"},  //
                                           Case{{0, 9, 0, 12, false}, "0.9dev12"},
                                           // An unknown stage, or nothing readable, shows all four words.
                                           Case{{1, 2, 50, 3, false}, "1.2.50.3"},  //
                                           Case{{0, 0, 0, 0, false}, "0.0.0.0"},
                                           // The words are signed 16-bit values; the text stays within 15 characters.
                                           Case{{0xFFFF, 0, 128, 1, false}, "-1.0.1"},
                                           Case{{0x8000, 0x8000, 7, 0x8000, false}, "-32768.-32768.7"}));

TEST(VersionText, DebugBuildsAreMarked)
{
    EXPECT_STREQ(debugMark(FileVersion{1, 5, 128, 4, true}), "(Debug)");
    EXPECT_STREQ(debugMark(FileVersion{1, 5, 128, 4, false}), "");
}
