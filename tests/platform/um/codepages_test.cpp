// MultiByteToWideChar / WideCharToMultiByte in the ANSI code page and
// UTF-8, and CharLowerA.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct NarrowCase {
    UINT page;
    std::string narrow;
    std::u16string wide;
};

class CodePages : public testing::TestWithParam<NarrowCase> {};

TEST_P(CodePages, RoundTripWithTheTerminatorAndSizeQueries)
{
    const NarrowCase& c = GetParam();
    int units = MultiByteToWideChar(c.page, 0, c.narrow.c_str(), -1, NULL, 0);
    ASSERT_EQ(units, int(c.wide.size()) + 1);
    std::u16string wide(size_t(units), u'x');
    ASSERT_EQ(MultiByteToWideChar(c.page, 0, c.narrow.c_str(), -1, wide.data(), units), units);
    EXPECT_EQ(wide, c.wide + u'\0');
    int bytes = WideCharToMultiByte(c.page, 0, c.wide.c_str(), -1, NULL, 0, NULL, NULL);
    ASSERT_EQ(bytes, int(c.narrow.size()) + 1);
    std::string narrow(size_t(bytes), 'x');
    ASSERT_EQ(WideCharToMultiByte(c.page, 0, c.wide.c_str(), -1, narrow.data(), bytes, NULL, NULL), bytes);
    EXPECT_EQ(narrow, c.narrow + '\0');
    if (bytes > 1) {  // one unit short of the room it needs (0 would ask for the size)
        EXPECT_EQ(WideCharToMultiByte(c.page, 0, c.wide.c_str(), -1, narrow.data(), bytes - 1, NULL, NULL), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CodePages,
                         testing::Values(NarrowCase{CP_ACP, "{7B0ADD43}", u"{7B0ADD43}"},
                                         NarrowCase{CP_ACP, "Caf\xE9", u"Caf\u00E9"},
                                         NarrowCase{CP_UTF8, "Caf\xC3\xA9 \xF0\x9F\x8E\xB5", u"Caf\u00E9 \U0001F3B5"},
                                         NarrowCase{CP_ACP, "", u""}));

TEST(CodePages, WhatAnsiCannotHoldBecomesTheDefaultCharacter)
{
    char out[4];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u20ACb", 3, out, sizeof out, NULL, &used), 3);
    EXPECT_EQ(std::string(out, 3), "a?b");
    EXPECT_TRUE(used);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, NULL, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, NULL, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(37, 0, "abc", 3, NULL, 0), 0);  // an EBCDIC page, not offered
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(CharLower, LowersAnsiLettersInPlaceAndSingleCharacters)
{
    char text[] = "C:\\WINDOWS\\Caf\xC9 \xD7";
    EXPECT_EQ(CharLowerA(text), text);
    EXPECT_STREQ(text, "c:\\windows\\caf\xE9 \xD7");
    EXPECT_EQ(reinterpret_cast<uintptr_t>(CharLowerA(reinterpret_cast<LPSTR>(uintptr_t('Q')))), uintptr_t('q'));
}

}  // namespace
