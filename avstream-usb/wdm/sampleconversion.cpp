#include "sampleconversion.h"

namespace {

constexpr LONG kMax24 = 0x7FFFFF;
constexpr LONG kMin24 = -0x800000;

inline LONG Load24(const UCHAR* p)
{
    // Sign-extend from bit 23.
    return LONG(ULONG(p[0]) << 8 | ULONG(p[1]) << 16 | ULONG(p[2]) << 24) >> 8;
}

inline LONG Load16(const UCHAR* p)
{
    return SHORT(USHORT(p[0] | p[1] << 8));
}

inline void Store24(PUCHAR p, LONG v)
{
    p[0] = UCHAR(v);
    p[1] = UCHAR(v >> 8);
    p[2] = UCHAR(v >> 16);
}

inline LONG Saturate24(LONG v)
{
    return v > kMax24 ? kMax24 : (v < kMin24 ? kMin24 : v);
}

inline void Mix16Sample(PUCHAR dst, const UCHAR* src)
{
    Store24(dst, Saturate24(Load24(dst) + Load16(src) * 256));
}

inline void Mix24Sample(PUCHAR dst, const UCHAR* src)
{
    Store24(dst, Saturate24(Load24(dst) + Load24(src)));
}

}  // namespace

void Widen16To24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    for (ULONG i = 0; i < samples; ++i, dst += 3, src += 2) {
        dst[0] = 0;
        dst[1] = src[0];
        dst[2] = src[1];
    }
}

void Mix16Into24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    for (ULONG i = 0; i < samples; ++i, dst += 3, src += 2) Mix16Sample(dst, src);
}

void Mix24Into24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    for (ULONG i = 0; i < samples; ++i, dst += 3, src += 3) Mix24Sample(dst, src);
}

void WidenStereo16IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    for (ULONG i = 0; i < frames; ++i, dst += 12, src += 4) {
        dst[0] = 0;
        dst[1] = src[0];
        dst[2] = src[1];
        dst[3] = 0;
        dst[4] = src[2];
        dst[5] = src[3];
    }
}

void MixStereo16IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    for (ULONG i = 0; i < frames; ++i, dst += 12, src += 4) {
        Mix16Sample(dst, src);
        Mix16Sample(dst + 3, src + 2);
    }
}

void CopyStereo24IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    for (ULONG i = 0; i < frames; ++i, dst += 12, src += 6) RtlCopyMemory(dst, src, 6);
}

void MixStereo24IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames)
{
    for (ULONG i = 0; i < frames; ++i, dst += 12, src += 6) {
        Mix24Sample(dst, src);
        Mix24Sample(dst + 3, src + 3);
    }
}

void Narrow24To16(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    for (ULONG i = 0; i < samples; ++i, dst += 2, src += 3) {
        dst[0] = src[1];
        dst[1] = src[2];
    }
}
