// mrvsoak: bus time of random clients on a virtual device that loops its
// audio and echoes its MIDI: audio sessions checked sample-exact, MIDI
// sessions checked byte-exact, pins opened and closed idle, UrbSize changes,
// unplug and replug, surprise removal with requests in flight, and
// stretches with the ASIO driver in a virtual Windows. The bus runs as fast
// as the work allows. Any verifier finding, failed check or leak fails the run.
#include "asiophase.h"
#include "audioloopsession.h"
#include "devicesettings.h"
#include "kernelrig.h"
#include "midiloopback.h"
#include "midipinclient.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

// The class-compliant device: a stereo render and capture pin, and MIDI on
// a class and a framed endpoint.
constexpr uint16_t kProduct = 0x0100;
constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;
constexpr ULONG kUrbSizes[] = {1, 2, 4, 5, 8, 10, 16, 20};

struct Tally {
    uint64_t audioSessions = 0, audioFrames = 0;
    uint64_t midiSessions = 0, midiMessages = 0, midiBytes = 0;
    uint64_t idleOpens = 0, urbSizeChanges = 0, urbSizeRefused = 0, replugs = 0, surpriseRemovals = 0;
    uint64_t asioPhases = 0, asioSessions = 0, asioPanelChanges = 0, asioSamples = 0, asioGlitchesUnderLoad = 0;
    uint64_t failures = 0;
};

// Every action runs on the calling thread, one after another.
class Soak {
public:
    Soak(uint64_t seed, bool verbose) : m_random(seed), m_seed(seed), m_verbose(verbose) {}

    bool Plug()
    {
        const NTSTATUS status = m_rig.Plug(kProduct);
        m_midiPins = NT_SUCCESS(status) ? m_rig.MidiPins() : std::vector<MidiPinPair>{};
        m_usable = NT_SUCCESS(status) && !m_midiPins.empty();
        if (!NT_SUCCESS(status)) return Fail("the device did not start", status);
        if (m_midiPins.empty()) return Fail("no MIDI pins", STATUS_SUCCESS);
        return true;
    }
    // Whether the last plug gave a device the clients can use.
    bool Usable() const { return m_usable; }

    // One random client action.
    void Step()
    {
        const uint32_t pick = Below(100);
        if (pick < 28) {
            const uint32_t buffers = 10 + Below(300);
            const ULONG rate = Below(2) ? 48000 : 44100;
            const AudioSessionResult r = RunAudioLoopSession(m_rig, kRenderPin, kCapturePin, rate, buffers);
            ++m_tally.audioSessions;
            m_tally.audioFrames += r.framesChecked;
            Report("audio", r.fault, buffers, rate);
        } else if (pick < 56) {
            const MidiPinPair& pins = m_midiPins[Below(uint32_t(m_midiPins.size()))];
            MidiMix mix(m_random(), MidiMixProfile::Full);
            const uint64_t messages = 1 + Below(2000);
            const LoopbackResult r = RunMidiLoopback(m_rig, pins, mix, messages);
            ++m_tally.midiSessions;
            m_tally.midiMessages += r.messages;
            m_tally.midiBytes += r.bytesReceived;
            Report("midi", r.fault, messages, pins.outPin);
        } else if (pick < 68) {
            // A client that opens a pin, looks and leaves.
            const MidiPinPair& pins = m_midiPins[Below(uint32_t(m_midiPins.size()))];
            MidiPinClient in(*m_rig.Filter(), pins.inPin, pins.hidden);
            if (NT_SUCCESS(in.Status())) {
                for (int i = 0; i < 4; ++i) in.Read(64);
                in.Pin().SetState(KSSTATE_PAUSE);
                m_rig.Bus().StepFrames(1 + Below(20));
            }
            ++m_tally.idleOpens;
            Report("idle open", NT_SUCCESS(in.Status()) ? "" : "a MIDI in pin did not open", 0, pins.inPin);
        } else if (pick < 80) {
            ULONG size = kUrbSizes[Below(std::size(kUrbSizes))];
            const NTSTATUS status = m_rig.Filter()->Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE,
                                                             KSPROPERTY_TYPE_SET, &size, sizeof(size));
            ++m_tally.urbSizeChanges;
            if (!NT_SUCCESS(status)) ++m_tally.urbSizeRefused;
            if (m_verbose) std::printf("urbsize %lu: 0x%08X\n", static_cast<unsigned long>(size), unsigned(status));
        } else if (pick < 88) {
            m_rig.Unplug();
            ++m_tally.replugs;
            if (m_verbose) std::printf("unplugged and plugged again\n");
            Plug();
        } else if (pick < 97) {
            SurpriseRemoval();
        } else {
            AsioPhase();
        }
    }

    // Pulled out with reads queued on an in pin and a SysEx half written on
    // an out pin: every request ends with a status, and the next plug works.
    void SurpriseRemoval()
    {
        const MidiPinPair& pins = m_midiPins[Below(uint32_t(m_midiPins.size()))];
        {
            MidiPinClient out(*m_rig.Filter(), pins.outPin, pins.hidden);
            MidiPinClient in(*m_rig.Filter(), pins.inPin, pins.hidden);
            if (!NT_SUCCESS(out.Status()) || !NT_SUCCESS(in.Status())) {
                Report("surprise removal", "a MIDI pin did not open", 0, pins.outPin);
                return;
            }
            for (int i = 0; i < 4; ++i) in.Read(64);
            out.Write({0xF0, 0x41, 0x10});
            m_rig.Bus().StepFrames(Below(5));
            m_rig.SurpriseUnplug();
            ++m_tally.surpriseRemovals;
            if (!in.AllEnded(20000) || !out.AllEnded(20000)) {
                // The clients' destructors would wait for ever.
                std::printf("fault: a request never ended after a surprise removal (seed %llu)\n",
                            static_cast<unsigned long long>(m_seed));
                std::fflush(stdout);
                std::_Exit(1);
            }
            in.Abandon();
            out.Abandon();
        }
        if (m_verbose) std::printf("surprise removal with I/O in flight\n");
        Plug();
    }

    // The kernel side steps aside for a virtual Windows with the ASIO
    // driver, then comes back: no driver of either may leave anything.
    void AsioPhase()
    {
        const std::string leaks = m_rig.UnloadAndCheckLeaks();
        if (!leaks.empty()) Report("unload before ASIO", leaks, 0, 0);
        const AsioPhaseResult r = RunAsioPhase(m_random, 1 + int(Below(4)));
        ++m_tally.asioPhases;
        m_tally.asioSessions += r.sessions;
        m_tally.asioPanelChanges += r.panelChanges;
        m_tally.asioSamples += r.samplesChecked;
        m_tally.asioGlitchesUnderLoad += r.glitchesUnderLoad;
        m_asioMs += r.streamedMs;
        Report("asio", r.fault, r.sessions, r.streamedMs);
        Plug();
    }

    bool Finish()
    {
        const std::string leaks = m_rig.UnloadAndCheckLeaks();
        if (!leaks.empty()) {
            std::printf("left behind at the end:\n%s", leaks.c_str());
            ++m_tally.failures;
        }
        return m_tally.failures == 0 && m_rig.Findings() == 0;
    }

    // One bus serves every plug, so its frame counter runs on.
    uint64_t BusFrames() { return m_rig.Bus().CurrentFrame() - m_startFrame + m_asioMs; }
    const Tally& Counts() const { return m_tally; }
    uint64_t Findings() const { return m_rig.Findings(); }
    void MarkStart() { m_startFrame = m_rig.Bus().CurrentFrame(); }

private:
    uint32_t Below(uint32_t n) { return uint32_t(m_random() % n); }

    bool Fail(const char* what, NTSTATUS status)
    {
        std::printf("fault: %s (0x%08X)\n", what, unsigned(status));
        ++m_tally.failures;
        return false;
    }

    void Report(const char* kind, const std::string& fault, uint64_t size, uint64_t detail)
    {
        if (!fault.empty()) {
            std::printf("fault: %s (%llu, %llu) at bus frame %lu, seed %llu: %s\n", kind,
                        static_cast<unsigned long long>(size), static_cast<unsigned long long>(detail),
                        static_cast<unsigned long>(m_rig.Bus().CurrentFrame()), static_cast<unsigned long long>(m_seed),
                        fault.c_str());
            ++m_tally.failures;
        } else if (m_verbose) {
            std::printf("%s (%llu, %llu) exact\n", kind, static_cast<unsigned long long>(size),
                        static_cast<unsigned long long>(detail));
        }
    }

    KernelRig m_rig;
    std::vector<MidiPinPair> m_midiPins;
    bool m_usable = false;
    std::mt19937_64 m_random;
    uint64_t m_seed;
    bool m_verbose;
    Tally m_tally;
    ULONG m_startFrame = 0;
    uint64_t m_asioMs = 0;  // bus time the ASIO stretches streamed, on their own machines' buses
};

}  // namespace

int main(int argc, char** argv)
{
    double minutes = 60;
    uint64_t seed = 1;
    bool verbose = false;
    CLI::App app{"Random clients on a looping virtual device for a span of bus time, checked throughout"};
    app.add_option("--minutes", minutes, "bus minutes to run")->capture_default_str()->check(CLI::Range(0.01, 100000.0));
    app.add_option("--seed", seed, "seed of the clients' choices")->capture_default_str();
    app.add_flag("--verbose", verbose, "print every action");
    CLI11_PARSE(app, argc, argv);

    const auto start = std::chrono::steady_clock::now();
    Soak soak(seed, verbose);
    if (!soak.Plug()) return 1;
    soak.MarkStart();
    const uint64_t target = uint64_t(minutes * 60000);
    uint64_t steps = 0;
    while (soak.BusFrames() < target && soak.Usable()) {
        soak.Step();
        ++steps;
    }
    const uint64_t busFrames = soak.BusFrames();
    const bool clean = soak.Finish();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const Tally& t = soak.Counts();
    std::printf("bus time %.2f min, wall time %.1f s, seed %llu, %llu actions\n", double(busFrames) / 60000, wall,
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(steps));
    std::printf("  audio sessions %llu (%llu frames checked sample-exact)\n",
                static_cast<unsigned long long>(t.audioSessions), static_cast<unsigned long long>(t.audioFrames));
    std::printf("  MIDI sessions %llu (%llu messages, %llu bytes checked)\n", static_cast<unsigned long long>(t.midiSessions),
                static_cast<unsigned long long>(t.midiMessages), static_cast<unsigned long long>(t.midiBytes));
    std::printf("  idle pin opens %llu, UrbSize changes %llu (%llu refused), unplug and replug %llu\n",
                static_cast<unsigned long long>(t.idleOpens), static_cast<unsigned long long>(t.urbSizeChanges),
                static_cast<unsigned long long>(t.urbSizeRefused), static_cast<unsigned long long>(t.replugs));
    std::printf("  surprise removals with I/O in flight %llu\n", static_cast<unsigned long long>(t.surpriseRemovals));
    std::printf("  ASIO stretches %llu (%llu sessions started and stopped, %llu buffer changes on the panel, %llu samples "
                "checked sample-exact)\n",
                static_cast<unsigned long long>(t.asioPhases), static_cast<unsigned long long>(t.asioSessions),
                static_cast<unsigned long long>(t.asioPanelChanges), static_cast<unsigned long long>(t.asioSamples));
    if (t.asioGlitchesUnderLoad != 0)
        std::printf("  ASIO sessions with a gap while the machine was too busy to run the host in time: %llu\n",
                    static_cast<unsigned long long>(t.asioGlitchesUnderLoad));
    std::printf("  failures %llu, verifier findings %llu\n", static_cast<unsigned long long>(t.failures),
                static_cast<unsigned long long>(soak.Findings()));
    return clean ? 0 : 1;
}
