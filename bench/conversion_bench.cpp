// Sample conversions of the audio pins against memcpy of the same output
// bytes: one 10-ms transfer of 48 kHz audio per iteration.
#include "sampleconversion.h"

#include <benchmark/benchmark.h>

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

using Conversion = void (*)(PUCHAR, const UCHAR*, ULONG);

// count: samples or frames passed to the routine; in/out: bytes per count.
void Run(benchmark::State& state, Conversion convert, ULONG count, size_t inBytes, size_t outBytes)
{
    auto src = Pattern(count * inBytes);
    auto dst = Pattern(count * outBytes);
    for (auto _ : state) {
        convert(dst.data(), src.data(), count);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(count * outBytes));
}

void Memcpy(benchmark::State& state)
{
    const size_t bytes = size_t(state.range(0));
    auto src = Pattern(bytes);
    auto dst = Pattern(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// Stereo clients: 2 samples per frame; quad routines count frames.
void BM_Widen16To24(benchmark::State& s) { Run(s, Widen16To24, kFrames * 2, 2, 3); }
void BM_Mix16Into24(benchmark::State& s) { Run(s, Mix16Into24, kFrames * 2, 2, 3); }
void BM_Mix24Into24(benchmark::State& s) { Run(s, Mix24Into24, kFrames * 2, 3, 3); }
void BM_WidenStereo16IntoQuad24(benchmark::State& s) { Run(s, WidenStereo16IntoQuad24, kFrames, 4, 12); }
void BM_MixStereo16IntoQuad24(benchmark::State& s) { Run(s, MixStereo16IntoQuad24, kFrames, 4, 12); }
void BM_CopyStereo24IntoQuad24(benchmark::State& s) { Run(s, CopyStereo24IntoQuad24, kFrames, 6, 12); }
void BM_MixStereo24IntoQuad24(benchmark::State& s) { Run(s, MixStereo24IntoQuad24, kFrames, 6, 12); }
void BM_Narrow24To16(benchmark::State& s) { Run(s, Narrow24To16, kFrames * 2, 3, 2); }

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
BENCHMARK_MAIN();
