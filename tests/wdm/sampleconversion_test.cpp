// The audio pins' sample conversions: exact values at the edges, and the
// word-at-a-time routines against a per-sample reading of the rules for
// every length (so the tails after the groups of four are covered).
#include "sampleconversion.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
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
        // No slack after the client's bytes: the sanitizer build sees any read
        // past them. The wire gets slack that must come back untouched.
        Bytes src(count * r.inBytes), dst(count * r.outBytes + 4);
        for (auto& b : src) b = UCHAR(random());
        for (auto& b : dst) b = UCHAR(random());
        Bytes expected = dst;
        for (ULONG i = 0; i < count; ++i) r.reference(&expected[i * r.outBytes], &src[i * r.inBytes]);
        r.convert(dst.data(), src.data(), count);
        EXPECT_EQ(dst, expected) << r.name << " with " << count << " samples";
    }
}

// Every pairing of full-scale, near-zero and mid-scale values, each pairing
// in four successive sample positions, since the mixes take samples in pairs
// and groups.
class Mix : public testing::TestWithParam<Routine> {};

TEST_P(Mix, MatchesTheRuleAtTheEdgesInEveryPosition)
{
    const Routine& r = GetParam();
    const LONG edges[] = {-0x800000, -0x7FFFFF, -0x400000, -256, -1, 0, 1, 255, 0x400000, 0x7FFFFE, 0x7FFFFF};
    constexpr ULONG kEdges = sizeof edges / sizeof edges[0];
    const ULONG clientBytes = r.inBytes % 3 == 0 ? 3 : 2;  // per sample
    const ULONG samplesPerCount = r.inBytes / clientBytes;
    const ULONG wireSamplesPerCount = r.outBytes / 3;
    const ULONG count = kEdges * kEdges * 4 / samplesPerCount + 3;
    Bytes src(count * r.inBytes), dst(count * r.outBytes, 0xEE);
    for (ULONG i = 0; i < count * samplesPerCount; ++i) {
        const LONG client = edges[i / 4 % kEdges], wire = edges[i / 4 / kEdges % kEdges];
        if (clientBytes == 3) {
            Write24(&src[3 * i], client);
        } else {
            src[2 * i] = UCHAR(client >> 8);
            src[2 * i + 1] = UCHAR(client >> 16);
        }
        Write24(&dst[3 * (i / samplesPerCount * wireSamplesPerCount + i % samplesPerCount)], wire);
    }
    Bytes expected = dst;
    for (ULONG i = 0; i < count; ++i) r.reference(&expected[i * r.outBytes], &src[i * r.inBytes]);
    r.convert(dst.data(), src.data(), count);
    EXPECT_EQ(dst, expected) << r.name;
}

std::vector<Routine> Mixes()
{
    std::vector<Routine> mixes;
    for (const Routine& r : kRoutines) {
        if (std::string(r.name).rfind("Mix", 0) == 0) mixes.push_back(r);
    }
    return mixes;
}

const auto kNameOf = [](const testing::TestParamInfo<Routine>& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(All, Conversion, testing::ValuesIn(kRoutines), kNameOf);
INSTANTIATE_TEST_SUITE_P(All, Mix, testing::ValuesIn(Mixes()), kNameOf);

}  // namespace
