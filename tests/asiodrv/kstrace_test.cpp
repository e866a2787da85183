// KsTrace: threshold, sink and the 259-character cut.
#include "tracecapture.h"

#include <gtest/gtest.h>

TEST(KsTrace, IsSilentAboveTheThreshold)
{
    TraceCapture capture(3);
    KsTrace(4, "warning %d", 1);
    KsTrace(3, "pin %d", 2);
    ASSERT_EQ(capture.All().size(), 1u);
    EXPECT_EQ(capture.All()[0], "pin 2");
}

TEST(KsTrace, StartsSilentWithNoSink)
{
    EXPECT_EQ(KsGetTraceThreshold(), 0);
    KsTrace(1, "goes nowhere");  // no sink: discarded without harm
}

class KsTraceLength : public ::testing::TestWithParam<std::pair<size_t, size_t>> {};

TEST_P(KsTraceLength, LongTextIsCutAt259Characters)
{
    auto [length, expected] = GetParam();
    TraceCapture capture(1);
    std::string text(length, 'x');
    KsTrace(1, "%s", text.c_str());
    ASSERT_EQ(capture.All().size(), 1u);
    EXPECT_EQ(capture.All()[0].size(), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, KsTraceLength,
                         ::testing::Values(std::pair<size_t, size_t>{0, 0}, std::pair<size_t, size_t>{258, 258},
                                           std::pair<size_t, size_t>{259, 259}, std::pair<size_t, size_t>{260, 259},
                                           std::pair<size_t, size_t>{1000, 259}));
