// mrvmidiloop: mixed MIDI traffic through the MIDI pins of every MIDI
// variant of the driver, on virtual devices whose MIDI out is echoed to
// their MIDI in: exactly what was written must be read back, in order, with
// non-decreasing times. Exits non-zero on any difference, verifier finding
// or leak.
#include "hardware/devices.h"
#include "kernelrig.h"
#include "midiloopback.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>

namespace {

struct Product {
    uint16_t id;
    const char* variant;
};

constexpr Product kProducts[] = {
    {hardware::kRawMidiA, "raw"},
    {hardware::kClassMidiSmall, "class"},
    {hardware::kClassMidiMedium, "class"},
    {hardware::kRunningStatusMidi, "running status"},
    {hardware::kRawMidiB, "raw"},
    {hardware::kAudioMidi, "raw, beside audio"},
    {hardware::kClassMidiLarge, "class"},
    {hardware::kClassCompliant, "class-compliant, class and framed"},
};

}  // namespace

int main(int argc, char** argv)
{
    uint64_t messages = 100000;
    uint64_t seed = 1;
    std::vector<unsigned> only;
    CLI::App app{"Mixed MIDI through the MIDI pins of every MIDI variant of the driver on echoing virtual devices: "
                 "what was written must come back exactly, in order, with non-decreasing times"};
    app.add_option("--messages", messages, "messages per pin pair")->capture_default_str()->check(CLI::Range(uint64_t(1), uint64_t(100000000)));
    app.add_option("--seed", seed, "seed of the traffic")->capture_default_str();
    app.add_option("--product", only, "only these product ids (repeatable)")->check(CLI::Range(0u, 0xFFFFu));
    CLI11_PARSE(app, argc, argv);

    int failures = 0;
    const auto start = std::chrono::steady_clock::now();
    std::printf("%-8s %-34s %-7s %10s %12s %12s %10s  %s\n", "product", "variant", "pins", "messages", "bytes sent",
                "bytes read", "bus ms", "result");
    for (const Product& product : kProducts) {
        if (!only.empty() && std::find(only.begin(), only.end(), product.id) == only.end()) continue;
        KernelRig rig;
        const NTSTATUS status = rig.Plug(product.id);
        if (!NT_SUCCESS(status)) {
            std::printf("0x%04X   the device did not start (0x%08X)\n", product.id, unsigned(status));
            ++failures;
            continue;
        }
        const auto pairs = rig.MidiPins();
        if (pairs.empty()) {
            std::printf("0x%04X   no MIDI pins\n", product.id);
            ++failures;
        }
        for (size_t i = 0; i < pairs.size(); ++i) {
            const MidiMixProfile profile = product.id == hardware::kRunningStatusMidi ? MidiMixProfile::RunningStatusDevice
                                                                                       : MidiMixProfile::Full;
            MidiMix mix(seed * 1000003 + product.id * 31 + i, profile);
            const LoopbackResult r = RunMidiLoopback(rig, pairs[i], mix, messages);
            char pins[32];
            std::snprintf(pins, sizeof pins, "%lu>%lu%s", static_cast<unsigned long>(pairs[i].outPin),
                          static_cast<unsigned long>(pairs[i].inPin), pairs[i].hidden ? "h" : "");
            std::printf("0x%04X   %-34s %-7s %10llu %12llu %12llu %10llu  %s\n", product.id, product.variant, pins,
                        static_cast<unsigned long long>(r.messages), static_cast<unsigned long long>(r.bytesSent),
                        static_cast<unsigned long long>(r.bytesReceived), static_cast<unsigned long long>(r.busFrames),
                        r.fault.empty() ? "exact" : r.fault.c_str());
            std::fflush(stdout);
            if (!r.fault.empty()) ++failures;
        }
        const std::string leaks = rig.UnloadAndCheckLeaks();
        if (!leaks.empty()) {
            std::printf("0x%04X   left behind:\n%s", product.id, leaks.c_str());
            ++failures;
        }
        if (rig.Findings() != 0) {
            std::printf("0x%04X   %llu verifier findings\n", product.id, static_cast<unsigned long long>(rig.Findings()));
            ++failures;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("seed %llu, %.1f s\n", static_cast<unsigned long long>(seed), seconds);
    if (failures != 0) {
        std::printf("mrvmidiloop: %d failures\n", failures);
        return 1;
    }
    return 0;
}
