// Sample conversions of the audio pins: one 10-ms transfer of 48 kHz audio
// per iteration, each reported as "memcpy_%", its speed as a percentage of
// memcpy of the same output bytes timed in this run. Two plain per-sample
// loops, written the obvious way, show where a byte-at-a-time conversion
// lands on the same machine.
#include "memcpyreference.h"
#include "sampleconversion.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr ULONG kFrames = 480;

std::vector<UCHAR> Pattern(size_t bytes)
{
    std::vector<UCHAR> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = UCHAR(i * 37 + 11);
    return v;
}

// The same samples with their sign flipped. Mixes alternate between the two,
// so that the transfer wanders instead of settling at full scale, where a
// branching clamp would always go the same way.
std::vector<UCHAR> Negated(const std::vector<UCHAR>& samples, size_t bytesPerSample)
{
    std::vector<UCHAR> out(samples.size());
    for (size_t i = 0; i + bytesPerSample <= samples.size(); i += bytesPerSample) {
        int32_t v = 0;
        for (size_t b = 0; b < bytesPerSample; ++b) v |= int32_t(samples[i + b]) << (8 * b);
        v = int32_t(uint32_t(v) << (32 - 8 * bytesPerSample)) >> (32 - 8 * bytesPerSample);
        v = -v;
        for (size_t b = 0; b < bytesPerSample; ++b) out[i + b] = UCHAR(v >> (8 * b));
    }
    return out;
}

using Conversion = void (*)(PUCHAR, const UCHAR*, ULONG);

// count: samples or frames passed to the routine; in/out: bytes per count;
// sampleBytes: client bytes per sample.
void Run(benchmark::State& state, Conversion convert, ULONG count, size_t inBytes, size_t outBytes,
         size_t sampleBytes)
{
    // One block, the buffers 2 KiB apart modulo 4 KiB: a load whose address
    // matches a recent store's in its low 12 bits waits for that store, and
    // malloc's placement would otherwise decide how often that happens.
    const auto samples = Pattern(count * inBytes);
    const auto negated = Negated(samples, sampleBytes);
    std::vector<UCHAR> block(3 * 4096 + count * (inBytes * 2 + outBytes));
    auto place = [&](size_t at, const std::vector<UCHAR>& from) {
        std::copy(from.begin(), from.end(), block.begin() + ptrdiff_t(at));
        return block.data() + at;
    };
    const size_t bytesIn = count * inBytes;
    const UCHAR* src = place(0, samples);
    const UCHAR* srcNegated = place((bytesIn + 4095) / 4096 * 4096, negated);
    PUCHAR dst = place((2 * bytesIn + 4095) / 4096 * 4096 + 2048, Pattern(count * outBytes));
    bool flip = false;
    const double start = bench::ThreadSeconds();
    for (auto _ : state) {
        convert(dst, flip ? srcNegated : src, count);
        flip = !flip;
        benchmark::DoNotOptimize(dst);
        benchmark::ClobberMemory();
    }
    bench::ReportAgainstMemcpy(state, count * outBytes, bench::ThreadSeconds() - start);
}

void Memcpy(benchmark::State& state)
{
    const size_t bytes = size_t(state.range(0));
    auto src = Pattern(bytes);
    auto dst = Pattern(bytes);
    const double start = bench::ThreadSeconds();
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    bench::ReportAgainstMemcpy(state, bytes, bench::ThreadSeconds() - start);
}

// ---- Calibration: one sample at a time, a byte at a time ----

void PlainWiden16To24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    for (ULONG i = 0; i < samples; ++i) {
        dst[3 * i] = 0;
        dst[3 * i + 1] = src[2 * i];
        dst[3 * i + 2] = src[2 * i + 1];
    }
}

void PlainMix16Into24(PUCHAR dst, const UCHAR* src, ULONG samples)
{
    for (ULONG i = 0; i < samples; ++i) {
        LONG wire = LONG(dst[3 * i]) | LONG(dst[3 * i + 1]) << 8 | LONG(dst[3 * i + 2]) << 16;
        if (wire & 0x800000) wire -= 0x1000000;
        const LONG client = SHORT(USHORT(src[2 * i] | src[2 * i + 1] << 8));
        LONG sum = wire + client * 256;
        if (sum > 0x7FFFFF) sum = 0x7FFFFF;
        if (sum < -0x800000) sum = -0x800000;
        dst[3 * i] = UCHAR(sum);
        dst[3 * i + 1] = UCHAR(sum >> 8);
        dst[3 * i + 2] = UCHAR(sum >> 16);
    }
}

// Stereo clients: 2 samples per frame; quad routines count frames.
void BM_Widen16To24(benchmark::State& s) { Run(s, Widen16To24, kFrames * 2, 2, 3, 2); }
void BM_Mix16Into24(benchmark::State& s) { Run(s, Mix16Into24, kFrames * 2, 2, 3, 2); }
void BM_Mix24Into24(benchmark::State& s) { Run(s, Mix24Into24, kFrames * 2, 3, 3, 3); }
void BM_WidenStereo16IntoQuad24(benchmark::State& s) { Run(s, WidenStereo16IntoQuad24, kFrames, 4, 12, 2); }
void BM_MixStereo16IntoQuad24(benchmark::State& s) { Run(s, MixStereo16IntoQuad24, kFrames, 4, 12, 2); }
void BM_CopyStereo24IntoQuad24(benchmark::State& s) { Run(s, CopyStereo24IntoQuad24, kFrames, 6, 12, 3); }
void BM_MixStereo24IntoQuad24(benchmark::State& s) { Run(s, MixStereo24IntoQuad24, kFrames, 6, 12, 3); }
void BM_Narrow24To16(benchmark::State& s) { Run(s, Narrow24To16, kFrames * 2, 3, 2, 3); }
void BM_PlainWiden16To24(benchmark::State& s) { Run(s, PlainWiden16To24, kFrames * 2, 2, 3, 2); }
void BM_PlainMix16Into24(benchmark::State& s) { Run(s, PlainMix16Into24, kFrames * 2, 2, 3, 2); }

}  // namespace

BENCHMARK(Memcpy)->Arg(kFrames * 2 * 3)->Arg(kFrames * 12)->Arg(kFrames * 2 * 2);
BENCHMARK(BM_Widen16To24);
BENCHMARK(BM_Mix16Into24);
BENCHMARK(BM_Mix24Into24);
BENCHMARK(BM_WidenStereo16IntoQuad24);
BENCHMARK(BM_MixStereo16IntoQuad24);
BENCHMARK(BM_CopyStereo24IntoQuad24);
BENCHMARK(BM_MixStereo24IntoQuad24);
BENCHMARK(BM_Narrow24To16);
BENCHMARK(BM_PlainWiden16To24);
BENCHMARK(BM_PlainMix16Into24);
BENCHMARK_MAIN();
