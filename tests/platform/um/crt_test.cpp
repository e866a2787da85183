// The Windows runtime's _vsnprintf, case-blind compares, the secure string
// functions and the wide _snwprintf; the heap's fault injection.
#include <windows.h>

#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

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

TEST(Crt, MbstowcsTruncatesOnRequestAndOtherwiseRefusesWhatDoesNotFit)
{
    const std::string brand(70, 'b');
    WCHAR wide[64];
    size_t converted = 0;
    EXPECT_EQ(mbstowcs_s(&converted, wide, 64, brand.c_str(), _TRUNCATE), STRUNCATE);
    EXPECT_EQ(converted, 64u) << "63 characters and the terminator";
    EXPECT_EQ(std::u16string(wide), std::u16string(63, u'b'));

    EXPECT_EQ(mbstowcs_s(&converted, wide, 64, "caf\xE9", _TRUNCATE), 0) << "through the ANSI code page";
    EXPECT_EQ(std::u16string(wide), u"caf\u00E9");
    EXPECT_EQ(converted, 5u);
    EXPECT_EQ(mbstowcs_s(&converted, NULL, 0, "four", 4), 0);
    EXPECT_EQ(converted, 5u) << "a size query";

    umsim::ViolationCapture capture;
    EXPECT_EQ(mbstowcs_s(&converted, wide, 64, brand.c_str(), brand.size()), ERANGE);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(mbstowcs_s(&converted, wide, 64, NULL, _TRUNCATE), EINVAL);
    EXPECT_EQ(capture.Count("crt"), 2u) << "Windows' runtime would end the process";
}

TEST(Crt, StrcatAppendsWhatFitsAndEmptiesTheTargetOtherwise)
{
    char path[16] = "C:\\Temp";
    EXPECT_EQ(strcat_s(path, sizeof path, "\\a.exe"), 0);
    EXPECT_STREQ(path, "C:\\Temp\\a.exe");
    umsim::ViolationCapture capture;
    EXPECT_EQ(strcat_s(path, sizeof path, "toolong"), ERANGE);
    EXPECT_STREQ(path, "");
    EXPECT_TRUE(capture.Saw("crt", "strcat_s"));
}

TEST(Crt, SnwprintfTakesWideStringsForPercentS)
{
    WCHAR path[260];
    EXPECT_EQ(_snwprintf(path, 260, u"%s?OSType=Windows&Brand=%s&ProductId=%d&Version=%s", u"/versioncheck/",
                         u"B", 7, u"1.0"),
              61);
    EXPECT_EQ(std::u16string(path), u"/versioncheck/?OSType=Windows&Brand=B&ProductId=7&Version=1.0");
    EXPECT_EQ(_snwprintf(path, 260, u"%hs|%5d|%-3u|%04X|%x|%%", "narrow", -42, 7u, 0xBEEFu, 255u), 26);
    EXPECT_EQ(std::u16string(path), u"narrow|  -42|7  |BEEF|ff|%");

    // Too long: what fits, no terminator, -1.
    for (WCHAR& c : path) c = u'x';
    EXPECT_EQ(_snwprintf(path, 4, u"%s", u"abcdef"), -1);
    EXPECT_EQ(std::u16string(path, 5), u"abcdx");
}

// ---- The heap's fault injection behind the nothrow operator new ----

TEST(CrtHeapFaults, TheNthNothrowAllocationFailsOnceAndTheThrowingFormsNever)
{
    const uint64_t before = umsim::InjectedHeapFailures();
    umsim::FailNthHeapAllocation(2);
    std::unique_ptr<int> first(new (std::nothrow) int(1));
    std::unique_ptr<int> throwing(new int(2));  // not counted
    std::unique_ptr<char[]> second(new (std::nothrow) char[16]);
    std::unique_ptr<char[]> third(new (std::nothrow) char[16]);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(umsim::HeapAllocationsSinceArmed(), 3u);
    umsim::ClearHeapFaults();
    EXPECT_EQ(umsim::HeapAllocationsSinceArmed(), 0u);
    EXPECT_EQ(umsim::InjectedHeapFailures(), before + 1);
}

TEST(CrtHeapFaults, ThreadsAllocatingAtOnceSeeExactlyOneFailure)
{
    const uint64_t before = umsim::InjectedHeapFailures();
    constexpr int kThreads = 4, kEach = 1000;
    std::atomic<int> failed{0};
    umsim::FailNthHeapAllocation(kThreads * kEach / 2);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                int* p = new (std::nothrow) int(i);
                if (!p) ++failed;
                delete p;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(umsim::HeapAllocationsSinceArmed(), uint64_t(kThreads * kEach));
    umsim::ClearHeapFaults();
    EXPECT_EQ(failed.load(), 1);
    EXPECT_EQ(umsim::InjectedHeapFailures(), before + 1);
}
