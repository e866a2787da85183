// Word-at-a-time conversions: four packed 3-byte samples are three 32-bit
// words, so groups of four move with whole-word loads and stores and the
// saturation is branch-free. The wire and x86 are both little-endian.
#include "sampleconversion.h"

namespace {

// A 64-bit register holds two 3-byte samples side by side, and the mixes add
// them as a pair. A 32-bit build keeps to a sample a word: there 64-bit
// arithmetic is emulated and would cost more than it saves. The helpers of
// the way a build does not take are marked [[maybe_unused]].
constexpr bool kPairsInARegister = sizeof(ULONG_PTR) == 8;

constexpr LONG kMax24 = 0x7FFFFF;
constexpr LONG kMin24 = -0x800000;

// Unaligned little-endian words; the width is always spelled out.
template <class Word>
inline Word Load(const UCHAR* p)
{
    Word v;
    __builtin_memcpy(&v, p, sizeof(v));
    return v;
}

template <class Word>
inline void Store(PUCHAR p, Word v)
{
    __builtin_memcpy(p, &v, sizeof(v));
}

// Sign-extends the low 24 bits.
inline LONG Extend24(ULONG v)
{
    return LONG(v << 8) >> 8;
}

// Branch-free clamp: audio that saturates does so in bursts no predictor
// follows.
inline LONG Saturate24(LONG v)
{
    const LONG over = kMax24 - v;
    v += over & (over >> 31);
    const LONG under = v - kMin24;
    return v - (under & (under >> 31));
}

inline LONG Sample16(const UCHAR* p)
{
    return SHORT(Load<USHORT>(p));
}

inline LONG Sample24(const UCHAR* p)
{
    return Extend24(ULONG(p[0]) | ULONG(p[1]) << 8 | ULONG(p[2]) << 16);
}

inline void Store24(PUCHAR p, LONG v)
{
    p[0] = UCHAR(v);
    p[1] = UCHAR(v >> 8);
    p[2] = UCHAR(v >> 16);
}

// ---- Two samples in bits 0-47 of a 64-bit word ----

constexpr ULONGLONG kPairBits = 0xFFFFFFFFFFFFULL;

// Adds lane by lane with saturation; bits 48-63 of both words are ignored
// and come back 0.
[[maybe_unused]] inline ULONGLONG SaturatingAddPair24(ULONGLONG wire, ULONGLONG client)
{
    constexpr ULONGLONG kSigns = 0x800000800000ULL;
    constexpr ULONGLONG kMagnitudes = 0x7FFFFF7FFFFFULL;
    // Wrapping add: the magnitudes cannot carry out of their lane.
    const ULONGLONG signsDiffer = (wire ^ client) & kSigns;
    const ULONGLONG sum = ((wire & kMagnitudes) + (client & kMagnitudes)) ^ signsDiffer;
    // A lane overflowed where both operands' signs agree and the sum's does not.
    const ULONGLONG overflow = (wire ^ sum) & (signsDiffer ^ kSigns);
    const ULONGLONG limit = kMagnitudes + ((wire & kSigns) >> 23);  // 0x7FFFFF, or 0x800000 below zero
    const ULONGLONG lanes = (overflow >> 23) * 0xFFFFFF;            // 0xFFFFFF in each overflowed lane
    return sum ^ ((sum ^ limit) & lanes);
}

// Two 16-bit samples as a pair, each times 256; two loads cost less than
// masking one word twice.
[[maybe_unused]] inline ULONGLONG LoadPair16(const UCHAR* p)
{
    return ULONGLONG(Load<USHORT>(p)) << 8 | ULONGLONG(Load<USHORT>(p + 2)) << 32;
}

// A client's 24-bit stereo frame as a pair, read without touching the bytes
// after it.
[[maybe_unused]] inline ULONGLONG LoadStereoPair24(const UCHAR* p)
{
    return Load<ULONG>(p) | ULONGLONG(Load<USHORT>(p + 4)) << 32;
}

// Four samples, two pairs, back into 12 bytes. The stores do not overlap:
// the next group's loads would wait on a store that covers them in part.
[[maybe_unused]] inline void StorePairs24(PUCHAR p, ULONGLONG lo, ULONGLONG hi)
{
    Store<ULONGLONG>(p, lo | hi << 48);
    Store<ULONG>(p + 8, ULONG(hi >> 16));
}

// Channels 0 and 1 of a 4-channel wire frame mixed with a client pair; the
// other channels' bytes in the word are written back as they were.
[[maybe_unused]] inline void MixPairIntoQuad24(PUCHAR p, ULONGLONG client)
{
    const ULONGLONG wire = Load<ULONGLONG>(p);
    Store<ULONGLONG>(p, SaturatingAddPair24(wire, client) | (wire & ~kPairBits));
}

// ---- One sample a word ----

// Four 3-byte samples from three words, and back.
struct Quad24 {
    LONG v[4];
};

[[maybe_unused]] inline Quad24 Unpack4(const UCHAR* p)
{
    const ULONG w0 = Load<ULONG>(p), w1 = Load<ULONG>(p + 4), w2 = Load<ULONG>(p + 8);
    return {{Extend24(w0), Extend24(w0 >> 24 | w1 << 8), Extend24(w1 >> 16 | w2 << 16), LONG(w2) >> 8}};
}

[[maybe_unused]] inline void Pack4(PUCHAR p, const Quad24& q)
{
    const ULONG v0 = ULONG(q.v[0]), v1 = ULONG(q.v[1]), v2 = ULONG(q.v[2]), v3 = ULONG(q.v[3]);
    Store<ULONG>(p, (v0 & 0xFFFFFF) | v1 << 24);
    Store<ULONG>(p + 4, (v1 >> 8 & 0xFFFF) | v2 << 16);
    Store<ULONG>(p + 8, (v2 >> 16 & 0xFF) | v3 << 8);
}

// Two channels at the start of a 4-channel wire frame: bytes 0-3 as a word,
// bytes 4-5 as a half word.
[[maybe_unused]] inline void LoadPair24(const UCHAR* p, LONG& l, LONG& r)
{
    const ULONG w = Load<ULONG>(p);
    l = Extend24(w);
    r = Extend24(w >> 24 | ULONG(Load<USHORT>(p + 4)) << 8);
}

[[maybe_unused]] inline void StorePair24(PUCHAR p, LONG l, LONG r)
{
    Store<ULONG>(p, (ULONG(l) & 0xFFFFFF) | ULONG(r) << 24);
    Store<USHORT>(p + 4, USHORT(ULONG(r) >> 8));
}

// ---- The loops ----

using Unit = void (*)(PUCHAR dst, const UCHAR* src);

// Runs `Step` over `count` units laid end to end, two an iteration: a unit is
// a handful of operations, and the loop's own counting would be a fair share
// of them.
template <ULONG kDstBytes, ULONG kSrcBytes, Unit Step>
inline void ForEach(PUCHAR dst, const UCHAR* src, ULONG count)
{
    for (ULONG n = count / 2; n; --n, dst += 2 * kDstBytes, src += 2 * kSrcBytes) {
        Step(dst, src);
        Step(dst + kDstBytes, src + kSrcBytes);
    }
    if (count & 1) Step(dst, src);
}

// Whole groups of four samples, then the rest a sample at a time.
template <ULONG kDstBytes, ULONG kSrcBytes, Unit Group, Unit OneSample>
inline void InGroupsOfFour(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    const ULONG grouped = samples & ~3u;
    ForEach<4 * kDstBytes, 4 * kSrcBytes, Group>(dst, src, samples / 4);
    ForEach<kDstBytes, kSrcBytes, OneSample>(dst + grouped * kDstBytes, src + grouped * kSrcBytes, samples - grouped);
}

// ---- One sample, a group of four, or a stereo frame into a 4-channel frame ----

inline void WidenSample16To24(PUCHAR dst, const UCHAR* src)
{
    dst[0] = 0;
    dst[1] = src[0];
    dst[2] = src[1];
}

inline void WidenGroup16To24(PUCHAR dst, const UCHAR* src)
{
    const ULONG x0 = Load<ULONG>(src), x1 = Load<ULONG>(src + 4);
    Store<ULONG>(dst, (x0 & 0xFFFF) << 8);
    Store<ULONG>(dst + 4, x0 >> 16 | x1 << 24);
    Store<ULONG>(dst + 8, (x1 >> 8 & 0xFF) | (x1 & 0xFFFF0000));
}

inline void MixSample16Into24(PUCHAR dst, const UCHAR* src)
{
    Store24(dst, Saturate24(Sample24(dst) + Sample16(src) * 256));
}

inline void MixGroup16Into24(PUCHAR dst, const UCHAR* src)
{
    if constexpr (kPairsInARegister) {
        const ULONGLONG lo = SaturatingAddPair24(Load<ULONGLONG>(dst), LoadPair16(src));
        const ULONGLONG hi = SaturatingAddPair24(Load<ULONGLONG>(dst + 4) >> 16, LoadPair16(src + 4));
        StorePairs24(dst, lo, hi);
    } else {
        Quad24 q = Unpack4(dst);
        for (int k = 0; k < 4; ++k) q.v[k] = Saturate24(q.v[k] + Sample16(src + 2 * k) * 256);
        Pack4(dst, q);
    }
}

inline void MixSample24Into24(PUCHAR dst, const UCHAR* src)
{
    Store24(dst, Saturate24(Sample24(dst) + Sample24(src)));
}

inline void MixGroup24Into24(PUCHAR dst, const UCHAR* src)
{
    if constexpr (kPairsInARegister) {
        // Samples 2 and 3 (bytes 6-11) are read as bytes 4-11, so that no load
        // reaches past the group.
        const ULONGLONG lo = SaturatingAddPair24(Load<ULONGLONG>(dst), Load<ULONGLONG>(src));
        const ULONGLONG hi = SaturatingAddPair24(Load<ULONGLONG>(dst + 4) >> 16, Load<ULONGLONG>(src + 4) >> 16);
        StorePairs24(dst, lo, hi);
    } else {
        Quad24 q = Unpack4(dst);
        const Quad24 s = Unpack4(src);
        for (int k = 0; k < 4; ++k) q.v[k] = Saturate24(q.v[k] + s.v[k]);
        Pack4(dst, q);
    }
}

inline void WidenFrameStereo16IntoQuad24(PUCHAR dst, const UCHAR* src)
{
    const ULONG x = Load<ULONG>(src);
    Store<ULONG>(dst, (x & 0xFFFF) << 8);
    Store<USHORT>(dst + 4, USHORT(x >> 16));
}

inline void MixFrameStereo16IntoQuad24(PUCHAR dst, const UCHAR* src)
{
    if constexpr (kPairsInARegister) {
        MixPairIntoQuad24(dst, LoadPair16(src));
    } else {
        LONG l, r;
        LoadPair24(dst, l, r);
        StorePair24(dst, Saturate24(l + Sample16(src) * 256), Saturate24(r + Sample16(src + 2) * 256));
    }
}

inline void CopyFrameStereo24IntoQuad24(PUCHAR dst, const UCHAR* src)
{
    Store<ULONG>(dst, Load<ULONG>(src));
    Store<USHORT>(dst + 4, Load<USHORT>(src + 4));
}

inline void MixFrameStereo24IntoQuad24(PUCHAR dst, const UCHAR* src)
{
    if constexpr (kPairsInARegister) {
        MixPairIntoQuad24(dst, LoadStereoPair24(src));
    } else {
        LONG l, r, sl, sr;
        LoadPair24(dst, l, r);
        LoadPair24(src, sl, sr);
        StorePair24(dst, Saturate24(l + sl), Saturate24(r + sr));
    }
}

inline void NarrowSample24To16(PUCHAR dst, const UCHAR* src)
{
    dst[0] = src[1];
    dst[1] = src[2];
}

inline void NarrowGroup24To16(PUCHAR dst, const UCHAR* src)
{
    const ULONG w0 = Load<ULONG>(src), w1 = Load<ULONG>(src + 4), w2 = Load<ULONG>(src + 8);
    Store<ULONG>(dst, (w0 >> 8 & 0xFFFF) | (w1 & 0xFFFF) << 16);
    Store<ULONG>(dst + 4, w1 >> 24 | (w2 & 0xFF) << 8 | (w2 & 0xFFFF0000));
}

}  // namespace

void Widen16To24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    InGroupsOfFour<3, 2, WidenGroup16To24, WidenSample16To24>(dst, src, samples);
}

void Mix16Into24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    InGroupsOfFour<3, 2, MixGroup16Into24, MixSample16Into24>(dst, src, samples);
}

void Mix24Into24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    InGroupsOfFour<3, 3, MixGroup24Into24, MixSample24Into24>(dst, src, samples);
}

void WidenStereo16IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    ForEach<12, 4, WidenFrameStereo16IntoQuad24>(dst, src, frames);
}

void MixStereo16IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    ForEach<12, 4, MixFrameStereo16IntoQuad24>(dst, src, frames);
}

void CopyStereo24IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    ForEach<12, 6, CopyFrameStereo24IntoQuad24>(dst, src, frames);
}

void MixStereo24IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    ForEach<12, 6, MixFrameStereo24IntoQuad24>(dst, src, frames);
}

void Narrow24To16(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    InGroupsOfFour<2, 3, NarrowGroup24To16, NarrowSample24To16>(dst, src, samples);
}
