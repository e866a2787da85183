// The ASIO driver's only work on samples: interleaving the host's channel
// buffers into a render request and de-interleaving a capture request back,
// for one 480-frame buffer per iteration. Each is reported as "memcpy_%",
// its speed as a percentage of memcpy of the same bytes timed in this run.
#include "interleave.h"
#include "memcpyreference.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr size_t kFrames = 480;

struct Buffers {
    std::vector<std::vector<unsigned char>> channels;
    std::vector<const void*> sources;
    std::vector<void*> destinations;
    std::vector<unsigned char> interleaved;

    Buffers(unsigned channelCount, unsigned bytes)
    {
        for (unsigned c = 0; c < channelCount; ++c) {
            channels.emplace_back(kFrames * bytes);
            for (size_t i = 0; i < channels.back().size(); ++i) channels.back()[i] = (unsigned char)(i * 31 + c);
        }
        for (auto& channel : channels) {
            sources.push_back(channel.data());
            destinations.push_back(channel.data());
        }
        interleaved.resize(kFrames * bytes * channelCount);
    }
};

// One routine over the buffers, timed against memcpy of the interleaved bytes.
template <class Move>
void Run(benchmark::State& state, Move move)
{
    const unsigned channelCount = unsigned(state.range(0)), bytes = unsigned(state.range(1));
    Buffers buffers(channelCount, bytes);
    const double start = bench::ThreadSeconds();
    for (auto _ : state) {
        move(buffers, channelCount, bytes);
        benchmark::ClobberMemory();
    }
    bench::ReportAgainstMemcpy(state, buffers.interleaved.size(), bench::ThreadSeconds() - start);
}

void Interleave(benchmark::State& state)
{
    Run(state, [](Buffers& b, unsigned channels, unsigned bytes) {
        interleave(b.sources.data(), channels, kFrames, bytes, b.interleaved.data());
        benchmark::DoNotOptimize(b.interleaved.data());
    });
}

void Deinterleave(benchmark::State& state)
{
    Run(state, [](Buffers& b, unsigned channels, unsigned bytes) {
        deinterleave(b.interleaved.data(), channels, kFrames, bytes, b.destinations.data());
        benchmark::DoNotOptimize(b.destinations.data());
    });
}

// channels, bytes per sample
BENCHMARK(Interleave)->ArgNames({"channels", "bytes"})->Args({2, 2})->Args({2, 3})->Args({4, 2})->Args({4, 3});
BENCHMARK(Deinterleave)->ArgNames({"channels", "bytes"})->Args({2, 2})->Args({2, 3})->Args({4, 2})->Args({4, 3});

}  // namespace

BENCHMARK_MAIN();
