// Runs class event packets through the driver's unpacking and, for the ones
// a device may send, back through its packing, and counts what happened to
// each against the class model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

enum Outcome : int {
    kRoundTripped,       // valid, repacked byte for byte
    kPaddingCleared,     // valid, repacked equal but for non-zero padding the packer writes as zero
    kSingleBytePassed,   // CIN 0xF byte other than real time, delivered as it came
    kReservedDropped,    // CIN 0 or 1, nothing delivered
    kInvalidDelivered,   // invalid, its CIN's bytes delivered as they came, as the model predicts
    kMismatch,           // anything else: a fault
    kOutcomeCount,
};

// Packets from, from + stride, ... (count of them, modulo 2^32).
struct PacketSlice {
    uint64_t from = 0;
    uint64_t count = uint64_t(1) << 32;
    uint64_t stride = 1;
};

struct Mismatch {
    uint32_t packet;
    const char* what;
};

// Each worker thread fills its own; they are added up after the threads end.
struct SweepTally {
    // [CIN][outcome]
    std::array<std::array<uint64_t, kOutcomeCount>, 16> counts{};
    std::vector<Mismatch> firstMismatches;  // the first few, for the report

    void Add(const SweepTally& other);
    uint64_t Total(Outcome outcome) const;
};

constexpr size_t kMismatchesKept = 8;

void SweepPackets(const PacketSlice& slice, SweepTally* tally);
