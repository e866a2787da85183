// The Windows runtime's _vsnprintf and case-blind compares.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

TEST(Crt, SnprintfThatFitsIsTerminated)
{
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(_snprintf(buffer, sizeof buffer, "%d", 123), 3);
    EXPECT_STREQ(buffer, "123");
}

TEST(Crt, SnprintfThatDoesNotFitReturnsMinusOneUnterminated)
{
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(_snprintf(buffer, 4, "%s", "abcdef"), -1);
    EXPECT_EQ(memcmp(buffer, "abcdx", 5), 0);
}

TEST(Crt, SnprintfThatExactlyFillsHasNoTerminator)
{
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(_snprintf(buffer, 4, "%s", "abcd"), 4);
    EXPECT_EQ(memcmp(buffer, "abcdx", 5), 0);
}

TEST(Crt, StricmpIgnoresCase)
{
    EXPECT_EQ(_stricmp("\\\\?\\USB#Vid", "\\\\?\\usb#vID"), 0);
    EXPECT_NE(_stricmp("a", "b"), 0);
    EXPECT_EQ(_strnicmp("ABCx", "abcy", 3), 0);
}
