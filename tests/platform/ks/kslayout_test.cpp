// Published record sizes and offsets of the build's word size: the 32-bit
// values under -m32, the 64-bit ones otherwise.
#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

#include <cstddef>

namespace {

constexpr bool kWide = sizeof(void*) == 8;

struct RecordSize {
    const char* name;
    size_t actual;
    size_t narrow;  // 32-bit
    size_t wide;    // 64-bit
};

class KsLayoutTest : public ::testing::TestWithParam<RecordSize> {};

TEST_P(KsLayoutTest, SizeIsThePublishedOne)
{
    const RecordSize& r = GetParam();
    EXPECT_EQ(r.actual, kWide ? r.wide : r.narrow) << r.name;
}

#define RECORD(type, narrow, wide) RecordSize{#type, sizeof(type), narrow, wide}

INSTANTIATE_TEST_SUITE_P(
    Records, KsLayoutTest,
    ::testing::Values(RECORD(KSPROPERTY, 24, 24), RECORD(KSP_PIN, 32, 32), RECORD(KSP_NODE, 32, 32),
                      RECORD(KSMULTIPLE_ITEM, 8, 8), RECORD(KSEVENTDATA, 16, 32), RECORD(KSDATAFORMAT, 64, 64),
                      RECORD(KSDATARANGE_AUDIO, 88, 88), RECORD(KSDATARANGE_MUSIC, 96, 96),
                      RECORD(KSPIN_DESCRIPTOR, 48, 88), RECORD(KSPIN_DESCRIPTOR_EX, 80, 136),
                      RECORD(KSNODE_DESCRIPTOR, 16, 24), RECORD(KSPROPERTY_ITEM, 40, 72),
                      RECORD(KSMETHOD_ITEM, 24, 40), RECORD(KSEVENT_ITEM, 24, 40),
                      RECORD(KSAUTOMATION_TABLE, 40, 48), RECORD(KSSTREAM_HEADER, 48, 56),
                      RECORD(KSALLOCATOR_FRAMING, 24, 24), RECORD(KSAUDIO_POSITION, 16, 16),
                      RECORD(WAVEFORMATEX, 18, 18), RECORD(WAVEFORMATEXTENSIBLE, 40, 40),
                      RECORD(KSDATAFORMAT_WAVEFORMATEX, 88, 88), RECORD(KSPIN_CONNECT, 64, 72),
                      RECORD(KSPIN_CINSTANCES, 8, 8), RECORD(KSTOPOLOGY_CONNECTION, 16, 16),
                      RECORD(KSMUSICFORMAT, 8, 8), RECORD(KSSTREAM_POINTER_OFFSET, 16, 16),
                      RECORD(KSPROPERTY_DESCRIPTION, 40, 40)),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KsLayout, FieldsSitWhereThePublishedRecordsPutThem)
{
    EXPECT_EQ(offsetof(KSPIN_CONNECT, PinId), 48u);
    EXPECT_EQ(offsetof(KSPIN_CONNECT, PinToHandle), kWide ? 56u : 52u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, PresentationTime), 8u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, Duration), 24u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, Data), 40u);
    EXPECT_EQ(offsetof(KSSTREAM_HEADER, OptionsFlags), kWide ? 48u : 44u);
    EXPECT_EQ(offsetof(KSDATARANGE_AUDIO, MaximumChannels), 64u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, nSamplesPerSec), 4u);
    EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
    EXPECT_EQ(offsetof(WAVEFORMATEXTENSIBLE, SubFormat), 24u);
    EXPECT_EQ(offsetof(KSPIN_DESCRIPTOR_EX, Flags), kWide ? 104u : 56u);
    EXPECT_EQ(offsetof(KSPROPERTY_ITEM, MinData), kWide ? 20u : 12u);
}

TEST(KsLayout, ControlCodesAreThePublishedOnes)
{
    EXPECT_EQ(IOCTL_KS_PROPERTY, 0x002F0003u);
    EXPECT_EQ(IOCTL_KS_ENABLE_EVENT, 0x002F0007u);
    EXPECT_EQ(IOCTL_KS_DISABLE_EVENT, 0x002F000Bu);
    EXPECT_EQ(IOCTL_KS_METHOD, 0x002F000Fu);
    EXPECT_EQ(IOCTL_KS_WRITE_STREAM, 0x002F8013u);
    EXPECT_EQ(IOCTL_KS_READ_STREAM, 0x002F4017u);
    EXPECT_EQ(IOCTL_KS_RESET_STATE, 0x002F001Bu);
}

}  // namespace
