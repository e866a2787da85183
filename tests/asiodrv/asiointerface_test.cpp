// The published ASIO records keep their published layout in this word size:
// hosts built with any compiler exchange them with the driver.
#include "asiointerface.h"

#include <gtest/gtest.h>

#include <cstddef>

TEST(AsioInterface, RecordsHaveThePublishedLayout)
{
    EXPECT_EQ(sizeof(ASIOTime), 148u);
    EXPECT_EQ(offsetof(ASIOTime, timeInfo), 16u);
    EXPECT_EQ(offsetof(ASIOTime, timeCode), 64u);
    EXPECT_EQ(offsetof(AsioTimeInfo, samplePosition), 16u);
    EXPECT_EQ(offsetof(AsioTimeInfo, flags), 32u);
    EXPECT_EQ(offsetof(ASIOTimeCode, flags), 16u);
    EXPECT_EQ(sizeof(ASIOChannelInfo), 52u);
    EXPECT_EQ(offsetof(ASIOChannelInfo, name), 20u);
    EXPECT_EQ(sizeof(ASIOClockSource), 48u);
    // Two 32-bit words, then the two buffer pointers without padding.
    EXPECT_EQ(sizeof(ASIOBufferInfo), sizeof(void*) == 8 ? 24u : 16u);
    EXPECT_EQ(offsetof(ASIOBufferInfo, buffers), 8u);
    EXPECT_EQ(sizeof(ASIOCallbacks), 4 * sizeof(void*));
}

TEST(AsioInterface, ValuesAreThePublishedOnes)
{
    EXPECT_EQ(ASIOSTInt16LSB, 16);
    EXPECT_EQ(ASIOSTInt24LSB, 17);
    EXPECT_EQ(ASE_InvalidParameter, -998);
    EXPECT_EQ(ASE_InvalidMode, -997);
    EXPECT_EQ(ASE_NoClock, -995);
    EXPECT_EQ(kAsioResetRequest, 3);
    EXPECT_EQ(kAsioSupportsTimeInfo, 7);
    EXPECT_EQ(kAsioOverload, 15);
    EXPECT_EQ(kAsioCanInputMonitor, 9);
    EXPECT_EQ(kAsioCanTimeInfo, 10);
    EXPECT_EQ(kClockSourceChanged, 0x20);
}
