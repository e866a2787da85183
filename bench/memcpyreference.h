// memcpy of the same output bytes, timed in the same process: the yardstick
// every figure of these benchmarks is read against, so that one run on any
// machine says how a routine compares with moving its output bytes.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <map>
#include <vector>

namespace bench {

// Thread CPU time: what the benchmark thread itself spent, whatever else
// the machine runs meanwhile.
inline double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Seconds of one memcpy of `bytes`, buffers warm in the cache: the mean of
// the fastest of a few trials of about 50 ms, each with buffers placed
// anew, since how source and destination sit against each other in the
// cache moves memcpy's speed by a third. Measured once per size.
inline double MemcpySeconds(size_t bytes)
{
    static std::map<size_t, double> measured;
    if (auto it = measured.find(bytes); it != measured.end()) return it->second;

    double best = 0;
    std::vector<std::vector<unsigned char>> spacers;
    for (int trial = 0; trial < 6; ++trial) {
        spacers.emplace_back(size_t(trial) * 192 + 64);
        std::vector<unsigned char> src(bytes, 0x5A), dst(bytes);
        auto copy = [&](long calls) {
            for (long i = 0; i < calls; ++i) {
                std::memcpy(dst.data(), src.data(), bytes);
                benchmark::DoNotOptimize(dst.data());
                benchmark::ClobberMemory();
            }
        };
        copy(10000);  // warm-up
        long calls = 0;
        const double start = ThreadSeconds();
        double elapsed = 0;
        while (elapsed < 0.05) {
            copy(10000);
            calls += 10000;
            elapsed = ThreadSeconds() - start;
        }
        const double seconds = elapsed / double(calls);
        if (trial == 0 || seconds < best) best = seconds;
    }
    return measured[bytes] = best;
}

// Adds "memcpy_%": the iterations' speed as a percentage of memcpy of the
// same output bytes (100 = as fast as memcpy), from `seconds`, the thread
// CPU time the timed iterations took.
inline void ReportAgainstMemcpy(benchmark::State& state, size_t outputBytes, double seconds)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(outputBytes));
    state.counters["memcpy_%"] = 100 * MemcpySeconds(outputBytes) * double(state.iterations()) / seconds;
}

}  // namespace bench
