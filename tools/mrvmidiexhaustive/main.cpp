// mrvmidiexhaustive: every USB-MIDI class event packet (all 2^32 of them, or
// a slice) through the driver's class unpacking, and back through its class
// packing where the event is one a device may send. Prints how many packets
// met each outcome per code index and exits non-zero on any mismatch.
#include "packetsweep.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr const char* kCinNames[16] = {
    "reserved (misc)", "reserved (cable)", "2-byte common", "3-byte common", "SysEx start/cont",
    "1-byte common/end", "SysEx end 2", "SysEx end 3", "note off", "note on", "poly pressure",
    "control change", "program change", "chan pressure", "pitch bend", "single byte",
};

constexpr const char* kOutcomeNames[kOutcomeCount] = {
    "round-trip", "padding-0", "single", "reserved", "invalid", "MISMATCH",
};

SweepTally Run(const PacketSlice& slice, unsigned threads)
{
    std::vector<SweepTally> tallies(threads);
    std::vector<std::thread> workers;
    const uint64_t share = slice.count / threads;
    for (unsigned t = 0; t < threads; ++t) {
        PacketSlice part = slice;
        part.from = slice.from + t * share * slice.stride;
        part.count = t + 1 == threads ? slice.count - t * share : share;
        workers.emplace_back(SweepPackets, part, &tallies[t]);
    }
    SweepTally total;
    for (unsigned t = 0; t < threads; ++t) {
        workers[t].join();
        total.Add(tallies[t]);
    }
    return total;
}

void PrintTable(const SweepTally& tally)
{
    std::printf("%-4s %-18s", "CIN", "carries");
    for (const char* name : kOutcomeNames) std::printf(" %12s", name);
    std::printf("\n");
    for (int cin = 0; cin < 16; ++cin) {
        std::printf("0x%X  %-18s", cin, kCinNames[cin]);
        for (int o = 0; o < kOutcomeCount; ++o) std::printf(" %12llu", static_cast<unsigned long long>(tally.counts[cin][o]));
        std::printf("\n");
    }
    std::printf("%-23s", "all");
    for (int o = 0; o < kOutcomeCount; ++o) std::printf(" %12llu", static_cast<unsigned long long>(tally.Total(Outcome(o))));
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    PacketSlice slice;
    unsigned threads = 1;
    CLI::App app{"Every USB-MIDI class event packet through the driver's class unpacking and, where a device may "
                 "send it, back through its class packing, judged against a model of the class"};
    app.add_option("--from", slice.from, "first packet (byte 0 is the most significant)")
        ->capture_default_str()->check(CLI::Range(uint64_t(0), uint64_t(0xFFFFFFFF)));
    app.add_option("--count", slice.count, "packets to visit (default: all 2^32)")
        ->capture_default_str()->check(CLI::Range(uint64_t(1), uint64_t(1) << 32));
    app.add_option("--stride", slice.stride, "distance between visited packets, modulo 2^32")
        ->capture_default_str()->check(CLI::Range(uint64_t(1), uint64_t(0xFFFFFFFF)));
    app.add_option("--threads", threads, "worker threads")->capture_default_str()->check(CLI::Range(1u, 256u));
    CLI11_PARSE(app, argc, argv);
    if (slice.count < threads) threads = 1;

    const auto start = std::chrono::steady_clock::now();
    const SweepTally tally = Run(slice, threads);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    PrintTable(tally);
    std::printf("%llu packets from 0x%08llX, stride %llu, %u thread(s): %.1f s, %.1f million packets/s\n",
                static_cast<unsigned long long>(slice.count), static_cast<unsigned long long>(slice.from),
                static_cast<unsigned long long>(slice.stride), threads, seconds, slice.count / seconds / 1e6);
    for (const Mismatch& m : tally.firstMismatches) std::printf("mismatch: packet %08X: %s\n", m.packet, m.what);
    const uint64_t mismatches = tally.Total(kMismatch);
    if (mismatches != 0) {
        std::printf("mrvmidiexhaustive: %llu mismatches\n", static_cast<unsigned long long>(mismatches));
        return 1;
    }
    return 0;
}
