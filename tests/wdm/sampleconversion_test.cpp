// The audio pins' sample conversions: exact values at the edges, and the
// word-at-a-time routines against a per-sample reading of the rules for
// every length (so the tails after the groups of four are covered).
#include "sampleconversion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<UCHAR>;

LONG Read24(const UCHAR* p)
{
    LONG v = p[0] | p[1] << 8 | p[2] << 16;
    return v & 0x800000 ? v - 0x1000000 : v;
}

void Write24(UCHAR* p, LONG v)
{
    p[0] = UCHAR(v);
    p[1] = UCHAR(v >> 8);
    p[2] = UCHAR(v >> 16);
}

LONG Read16(const UCHAR* p)
{
    return SHORT(p[0] | p[1] << 8);
}

LONG Clamp(LONG v)
{
    return v > 0x7FFFFF ? 0x7FFFFF : v < -0x800000 ? -0x800000 : v;
}

TEST(SampleConversion, MixSaturatesBothWays)
{
    UCHAR wire[6];
    Write24(wire, 0x7FFFFF);
    Write24(wire + 3, -0x800000);
    const UCHAR client[6] = {1, 0, 0, 0xFF, 0xFF, 0xFF};  // +1 and -1 as 24-bit samples
    Mix24Into24(wire, client, 2);
    EXPECT_EQ(Read24(wire), 0x7FFFFF);
    EXPECT_EQ(Read24(wire + 3), -0x800000);

    const UCHAR client16[4] = {0x01, 0x00, 0xFF, 0xFF};  // +1 and -1: +-256 on the wire
    Mix16Into24(wire, client16, 2);
    EXPECT_EQ(Read24(wire), 0x7FFFFF);
    EXPECT_EQ(Read24(wire + 3), -0x800000);
}

TEST(SampleConversion, NarrowTakesTheTopSixteenBitsWithoutRounding)
{
    const UCHAR wire[3] = {0xFF, 0x34, 0x12};
    UCHAR client[2];
    Narrow24To16(client, wire, 1);
    EXPECT_EQ(client[0] | client[1] << 8, 0x1234);
}

TEST(SampleConversion, StereoIntoQuadLeavesChannelsTwoAndThreeAlone)
{
    Bytes wire(12, 0xEE);
    const UCHAR client[4] = {0x34, 0x12, 0x78, 0x56};
    WidenStereo16IntoQuad24(wire.data(), client, 1);
    EXPECT_EQ(wire, (Bytes{0x00, 0x34, 0x12, 0x00, 0x78, 0x56, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

struct Routine {
    const char* name;
    void (*convert)(PUCHAR, const UCHAR*, ULONG);
    ULONG inBytes;   // per count
    ULONG outBytes;  // per count
    void (*reference)(UCHAR* dst, const UCHAR* src);  // one count
};

const Routine kRoutines[] = {
    {"Widen16To24", Widen16To24, 2, 3, [](UCHAR* d, const UCHAR* s) { Write24(d, Read16(s) * 256); }},
    {"Mix16Into24", Mix16Into24, 2, 3, [](UCHAR* d, const UCHAR* s) { Write24(d, Clamp(Read24(d) + Read16(s) * 256)); }},
    {"Mix24Into24", Mix24Into24, 3, 3, [](UCHAR* d, const UCHAR* s) { Write24(d, Clamp(Read24(d) + Read24(s))); }},
    {"WidenStereo16IntoQuad24", WidenStereo16IntoQuad24, 4, 12,
     [](UCHAR* d, const UCHAR* s) {
         Write24(d, Read16(s) * 256);
         Write24(d + 3, Read16(s + 2) * 256);
     }},
    {"MixStereo16IntoQuad24", MixStereo16IntoQuad24, 4, 12,
     [](UCHAR* d, const UCHAR* s) {
         Write24(d, Clamp(Read24(d) + Read16(s) * 256));
         Write24(d + 3, Clamp(Read24(d + 3) + Read16(s + 2) * 256));
     }},
    {"CopyStereo24IntoQuad24", CopyStereo24IntoQuad24, 6, 12,
     [](UCHAR* d, const UCHAR* s) {
         for (int i = 0; i < 6; ++i) d[i] = s[i];
     }},
    {"MixStereo24IntoQuad24", MixStereo24IntoQuad24, 6, 12,
     [](UCHAR* d, const UCHAR* s) {
         Write24(d, Clamp(Read24(d) + Read24(s)));
         Write24(d + 3, Clamp(Read24(d + 3) + Read24(s + 3)));
     }},
    {"Narrow24To16", Narrow24To16, 3, 2,
     [](UCHAR* d, const UCHAR* s) {
         d[0] = s[1];
         d[1] = s[2];
     }},
};

class Conversion : public testing::TestWithParam<Routine> {};

TEST_P(Conversion, MatchesTheRuleForEveryLength)
{
    const Routine& r = GetParam();
    std::mt19937 random(7);
    for (ULONG count = 0; count <= 13; ++count) {
        Bytes src(count * r.inBytes + 1), dst(count * r.outBytes + 4);
        for (auto& b : src) b = UCHAR(random());
        for (auto& b : dst) b = UCHAR(random());
        Bytes expected = dst;
        for (ULONG i = 0; i < count; ++i) r.reference(&expected[i * r.outBytes], &src[i * r.inBytes]);
        r.convert(dst.data(), src.data(), count);
        EXPECT_EQ(dst, expected) << r.name << " with " << count << " samples";
    }
}

INSTANTIATE_TEST_SUITE_P(All, Conversion, testing::ValuesIn(kRoutines),
                         [](const auto& info) { return info.param.name; });

}  // namespace
