#include "km/utf16.h"
#include "km/verifier.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Rtl, CompareMemoryCountsTheMatchingPrefix)
{
    EXPECT_EQ(RtlCompareMemory("abcdef", "abcxef", 6), 3u);
    EXPECT_EQ(RtlCompareMemory("abc", "abc", 3), 3u);
    EXPECT_EQ(RtlCompareMemory("abc", "xbc", 3), 0u);
    EXPECT_EQ(RtlCompareMemory("", "", 0), 0u);
}

TEST(Rtl, InitUnicodeStringCountsBytesWithoutTheTerminator)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, u"GLOBAL");
    EXPECT_EQ(s.Length, 12);
    EXPECT_EQ(s.MaximumLength, 14);
    RtlInitUnicodeString(&s, nullptr);
    EXPECT_EQ(s.Length, 0);
    EXPECT_EQ(s.MaximumLength, 0);
    EXPECT_EQ(s.Buffer, nullptr);
}

TEST(Rtl, InitUnicodeStringCutsOverlongStrings)
{
    std::u16string huge(40000, u'x');
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, huge.c_str());
    EXPECT_EQ(s.Length, 0xFFFC);
    EXPECT_EQ(s.MaximumLength, 0xFFFE);
}

TEST(Utf16, RoundTripsEveryPlane)
{
    const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\xB9";  // a, e-acute, a CJK ideograph, a keyboard emoji
    std::u16string wide = kmsim::Utf8ToUtf16(text);
    EXPECT_EQ(wide.size(), 5u);
    EXPECT_EQ(kmsim::Utf16ToUtf8(wide), text);
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters)
{
    EXPECT_EQ(kmsim::Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(kmsim::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");  // overlong
    EXPECT_EQ(kmsim::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(DebugPrint, FormatsIntoTheSink)
{
    DbgPrint("mrvusbaudio.sys : Enumerate() failed with error %x\n", 0xC0000001u);
    DbgPrint("%s", "second");
    EXPECT_EQ(kmsim::DebugOutput(), "mrvusbaudio.sys : Enumerate() failed with error c0000001\nsecond");
    kmsim::ClearDebugOutput();
    EXPECT_EQ(kmsim::DebugOutput(), "");
}

}  // namespace
