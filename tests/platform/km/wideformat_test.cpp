#include <wdm.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct FormatCase {
    const char* name;
    std::u16string expected;
    std::function<int(WCHAR*, size_t)> format;
};

class WideFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(WideFormat, ProducesTheExpectedText)
{
    WCHAR buffer[64];
    int written = GetParam().format(buffer, 64);
    EXPECT_EQ(written, int(GetParam().expected.size()));
    EXPECT_EQ(std::u16string(buffer), GetParam().expected);
}

const FormatCase kFormats[] = {
    {"Signed", u"-42 17", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%d %i", -42, 17); }},
    {"Unsigned", u"4294967295", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%u", 0xFFFFFFFFu); }},
    {"Hex", u"beef BEEF", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%x %X", 0xBEEF, 0xBEEF); }},
    {"LongIsThirtyTwoBits", u"-1 4294967295 ffffffff",
     [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%ld %lu %lx", LONG(-1), ULONG(0xFFFFFFFF), ULONG(0xFFFFFFFF)); }},
    {"Int64", u"-9000000000", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%I64d", -9000000000LL); }},
    {"WidthAndZeroPadding", u"[  7][007][-07][7  ]",
     [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"[%3d][%03d][%03d][%-3d]", 7, 7, -7, 7); }},
    {"StarWidth", u"[   x]", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"[%*s]", 4, u"x"); }},
    {"WideStrings", u"ab cd", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%s %ls", u"ab", u"cd"); }},
    {"NarrowStrings", u"ab cd", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%S %hs", "ab", "cd"); }},
    {"StringPrecision", u"abc", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%.3s", u"abcdef"); }},
    {"NullString", u"(null)", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%s", (const WCHAR*)nullptr); }},
    {"Characters", u"x%y", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%c%%%C", u'x', 'y'); }},
    {"Alternate", u"0x1f", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%#x", 0x1F); }},
    {"NonAscii", u"\u00e9\u4e2d", [](WCHAR* b, size_t n) { return _snwprintf(b, n, u"%s", u"\u00e9\u4e2d"); }},
};

INSTANTIATE_TEST_SUITE_P(WideFormat, WideFormat, testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// Truncation: the Windows rules, at the boundary of the buffer.
TEST(WideFormatTruncation, ShorterThanTheBufferIsTerminated)
{
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(_snwprintf(buffer, 8, u"%s", u"abc"), 3);
    EXPECT_EQ(std::u16string(buffer), u"abc");
}

TEST(WideFormatTruncation, ExactlyFillingTheBufferLeavesNoTerminator)
{
    WCHAR buffer[5];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(_snwprintf(buffer, 4, u"%s", u"abcd"), 4);
    EXPECT_EQ(std::u16string(buffer, 5), u"abcd#");
}

TEST(WideFormatTruncation, LongerThanTheBufferFailsAfterFillingIt)
{
    WCHAR buffer[5];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(_snwprintf(buffer, 4, u"%d", 123456), -1);
    EXPECT_EQ(std::u16string(buffer, 5), u"1234#");
}

TEST(WideFormatTruncation, ZeroCountWritesNothing)
{
    WCHAR buffer[2] = {u'#', u'#'};
    EXPECT_EQ(_snwprintf(buffer, 0, u"x"), -1);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(_snwprintf(buffer, 0, u""), 0);
    EXPECT_EQ(buffer[0], u'#');
}

TEST(WideFormatTruncation, NullBufferAsksForTheLengthNeeded)
{
    EXPECT_EQ(_snwprintf(nullptr, 0, u"%d-%s", 123, u"ab"), 6);
}

}  // namespace
