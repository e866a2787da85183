// Records that cross the kernel's published boundary keep the published
// layout of the build's word size.
#include <wdm.h>

#include <gtest/gtest.h>

namespace {

constexpr bool kIs64Bit = sizeof(void*) == 8;

TEST(Layout, BasicRecords)
{
    EXPECT_EQ(sizeof(LARGE_INTEGER), 8u);
    EXPECT_EQ(alignof(LARGE_INTEGER), 8u);
    EXPECT_EQ(sizeof(UNICODE_STRING), kIs64Bit ? 16u : 8u);
    EXPECT_EQ(sizeof(IO_STATUS_BLOCK), kIs64Bit ? 16u : 8u);
    EXPECT_EQ(sizeof(GUID), 16u);
}

TEST(Layout, RegistryValueRecords)
{
    EXPECT_EQ(FIELD_OFFSET(KEY_VALUE_BASIC_INFORMATION, Name), 12);
    EXPECT_EQ(FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name), 20);
    EXPECT_EQ(FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data), 12);
    EXPECT_EQ(sizeof(KEY_VALUE_PARTIAL_INFORMATION), 16u);
}

TEST(Layout, ObjectAttributes)
{
    EXPECT_EQ(sizeof(OBJECT_ATTRIBUTES), kIs64Bit ? 48u : 24u);
}

}  // namespace
