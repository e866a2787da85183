// The whole stack as a host meets it, in the virtual machine: the host's
// buffer switch, the ASIO driver and its streaming thread, the client
// library, kernel streaming, the kernel driver and the virtual USB device
// with its audio looped back. Each run streams a counting signal and fails
// unless it returns sample-exact.
//   WholeStackFast: the bus as fast as the work allows; "realtime_x" is
//     audio seconds per wall-clock second, "cycle_period_%" one streaming
//     cycle's CPU time (the streaming thread's, host callback included) as
//     a percentage of the buffer period.
//   RoundTrip/ms: the bus in real time at each buffer length; the measured
//     round trip beside the latencies the driver reports, in frames, and
//     the samples that did not come back as played (a short buffer on a
//     loaded machine may drop audio).
#include "hostsession.h"
#include "hostsystem.h"
#include "installeddrivers.h"
#include "signals.h"

#include <objbase.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>

namespace {

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The loopback check, timing the thread it runs on between switches.
class TimedLoopbackCheck : public LoopbackCheck {
public:
    void Process(const ChannelBlock& inputs, ChannelBlock& outputs, int64_t position) override
    {
        const double now = ThreadCpuSeconds();
        if (m_last > 0) {
            m_cycleSeconds += now - m_last;
            ++m_cycles;
        }
        LoopbackCheck::Process(inputs, outputs, position);
        m_last = ThreadCpuSeconds();
        m_cycleSeconds += m_last - now;
    }
    double MeanCycleSeconds() const { return m_cycles ? m_cycleSeconds / double(m_cycles) : 0; }

private:
    double m_last = 0;
    double m_cycleSeconds = 0;
    long m_cycles = 0;
};

struct ReleaseDriver {
    void operator()(IASIO* driver) const { driver->Release(); }
};
using DriverRef = std::unique_ptr<IASIO, ReleaseDriver>;

class Stack {
public:
    explicit Stack(bool fast)
    {
        SystemOptions options;
        options.fastClock = fast;
        m_system = HostSystem::Start(options, &m_error);
        if (!m_system) return;
        CoInitialize(NULL);
        for (const auto& driver : ListInstalledAsioDrivers()) {
            if (driver.name.find("Marvolan") != std::string::npos && driver.clsidValid) m_clsid = driver.clsid;
        }
    }
    ~Stack()
    {
        if (m_system) {
            CoFreeUnusedLibraries();
            CoUninitialize();
        }
    }
    const std::string& Error() const { return m_error; }
    HostSystem& System() { return *m_system; }

    DriverRef Open()
    {
        IASIO* driver = nullptr;
        if (!m_system || FAILED(CoCreateInstance(m_clsid, NULL, CLSCTX_INPROC_SERVER, m_clsid,
                                                 reinterpret_cast<void**>(&driver)))) {
            return nullptr;
        }
        DriverRef ref(driver);
        return ref->init(nullptr) == ASIOTrue ? std::move(ref) : nullptr;
    }

    // The buffer length as a user sets it in the control panel.
    bool SetBufferLength(int ms)
    {
        DriverRef driver = Open();
        if (!driver) return false;
        std::vector<std::string> pictures;
        m_system->PlayUserOnNextPanel({{"buffer", std::to_string(ms)}}, &pictures);
        return driver->controlPanel() == ASE_OK;
    }

private:
    std::unique_ptr<HostSystem> m_system;
    std::string m_error;
    CLSID m_clsid{};
};

void WholeStackFast(benchmark::State& state)
{
    Stack stack(true);
    DriverRef driver = stack.Open();
    if (!driver) return state.SkipWithError(("no driver: " + stack.Error()).c_str());
    HostSession session(*driver);
    if (session.Open() != ASE_OK) return state.SkipWithError(session.Error().c_str());
    session.SetClock(ClockOf(stack.System(), session.Shape().rate));
    const double seconds = 10;
    const double rate = session.Shape().rate;
    double wall = 0, cycle = 0;
    for (auto _ : state) {
        TimedLoopbackCheck check;
        const auto start = std::chrono::steady_clock::now();
        SessionReport report = session.Run(check, int64_t(seconds * rate), 120000);
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!report.completed || check.Mismatches() || !check.RoundTrip()) {
            return state.SkipWithError("the loopback did not come back sample-exact");
        }
        cycle = check.MeanCycleSeconds();
    }
    state.counters["realtime_x"] = seconds * double(state.iterations()) / wall;
    state.counters["cycle_period_%"] = 100 * cycle / (session.Shape().bufferSize / rate);
}
BENCHMARK(WholeStackFast)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void RoundTrip(benchmark::State& state)
{
    Stack stack(false);
    const int ms = int(state.range(0));
    if (!stack.SetBufferLength(ms)) return state.SkipWithError("the buffer length could not be set");
    DriverRef driver = stack.Open();
    if (!driver) return state.SkipWithError("no driver");
    HostSession session(*driver);
    if (session.Open() != ASE_OK) return state.SkipWithError(session.Error().c_str());
    int64_t measured = 0;
    uint64_t mismatches = 0, overloads = 0;
    for (auto _ : state) {
        LoopbackCheck check;
        const SessionReport report = session.Run(check, int64_t(session.Shape().rate), 10000);
        if (!report.completed || !check.RoundTrip()) return state.SkipWithError("nothing came back");
        measured = *check.RoundTrip();
        // Short buffers on a loaded machine may drop audio; the figures
        // say how much rather than hiding the round trip.
        mismatches = check.Mismatches();
        overloads = report.overloads;
    }
    state.counters["buffer_frames"] = session.Shape().bufferSize;
    state.counters["measured_frames"] = double(measured);
    state.counters["mismatched_samples"] = double(mismatches);
    state.counters["overloads"] = double(overloads);
    state.counters["reported_frames"] = session.Shape().inputLatency + session.Shape().outputLatency;
}
BENCHMARK(RoundTrip)->ArgName("ms")->Arg(1)->Arg(2)->Arg(5)->Arg(10)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
