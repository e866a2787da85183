// MIDI parsing and packing throughput, in MIDI bytes per second.
#include "midiwireformat.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// A mixed stream: notes with running status, controllers, program changes,
// clocks and SysEx.
std::vector<UCHAR> MixedStream()
{
    std::vector<UCHAR> s;
    for (int i = 0; i < 64; ++i) {
        s.insert(s.end(), {0x90, UCHAR(0x30 + i % 24), 0x64, UCHAR(0x31 + i % 24), 0x50});
        s.insert(s.end(), {0xB0, 0x07, UCHAR(i & 0x7F), 0xC2, UCHAR(i % 8), 0xF8});
        if (i % 8 == 0) {
            s.push_back(0xF0);
            for (int k = 0; k < 40; ++k) s.push_back(UCHAR(k));
            s.push_back(0xF7);
        }
    }
    return s;
}

void BM_Parse(benchmark::State& state)
{
    const auto stream = MixedStream();
    MidiParser parser;
    ULONG messages = 0;
    for (auto _ : state) {
        for (UCHAR b : stream) messages += parser.Feed(b).kind != kMidiNothing;
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

template <bool (*Pack)(PUCHAR, ULONG, ULONG*, const UCHAR*, ULONG*)>
void BM_PackBytes(benchmark::State& state)
{
    const auto stream = MixedStream();
    UCHAR packet[64];
    for (auto _ : state) {
        ULONG offset = 0;
        while (offset < stream.size()) {
            ULONG filled = 0, taken = ULONG(stream.size() - offset);
            Pack(packet, sizeof(packet), &filled, stream.data() + offset, &taken);
            offset += taken;
        }
        benchmark::DoNotOptimize(packet);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

void BM_PackClass(benchmark::State& state)
{
    const auto stream = MixedStream();
    MidiParser parser(kClassSysExChunk);
    UCHAR packet[64];
    for (auto _ : state) {
        ULONG offset = 0;
        ULONG filled = 0;
        while (offset < stream.size()) {
            ULONG taken = ULONG(stream.size() - offset);
            if (PackClassEvent(parser, 1, packet, sizeof(packet), &filled, stream.data() + offset, &taken)) filled = 0;
            offset += taken;
        }
        benchmark::DoNotOptimize(packet);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

void BM_UnpackClass(benchmark::State& state)
{
    // The class packets of the mixed stream, then unpacked again.
    const auto stream = MixedStream();
    MidiParser parser(kClassSysExChunk);
    std::vector<UCHAR> packets;
    for (ULONG offset = 0; offset < stream.size();) {
        UCHAR event[4];
        ULONG filled = 0, taken = ULONG(stream.size() - offset);
        PackClassEvent(parser, 1, event, sizeof(event), &filled, stream.data() + offset, &taken);
        offset += taken;
        packets.insert(packets.end(), event, event + filled);
    }
    ULONG bytes = 0;
    for (auto _ : state) {
        UnpackClassEvents(
            packets.data(), ULONG(packets.size()),
            [](void* context, ULONG, const UCHAR*, ULONG size) { *static_cast<ULONG*>(context) += size; }, &bytes);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

}  // namespace

BENCHMARK(BM_Parse);
BENCHMARK(BM_PackBytes<PackRaw>)->Name("BM_PackRaw");
BENCHMARK(BM_PackBytes<PackFramed>)->Name("BM_PackFramed");
BENCHMARK(BM_PackClass);
BENCHMARK(BM_UnpackClass);
BENCHMARK_MAIN();
