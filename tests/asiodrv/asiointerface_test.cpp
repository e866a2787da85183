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
