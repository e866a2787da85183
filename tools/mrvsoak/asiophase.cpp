#include "asiophase.h"

#include "hostsession.h"
#include "hostsystem.h"
#include "installeddrivers.h"
#include "signals.h"
#include "um/umverifier.h"

#include <objbase.h>

#include <memory>
#include <vector>

namespace {

constexpr unsigned kLoopingProduct = 0x10;
constexpr const char* kBufferLengthsMs[] = {"2", "4", "5", "8", "10", "16", "20"};

struct ReleaseDriver {
    void operator()(IASIO* driver) const { driver->Release(); }
};
using DriverRef = std::unique_ptr<IASIO, ReleaseDriver>;

DriverRef Create(const InstalledAsioDriver& installed)
{
    IASIO* driver = nullptr;
    const HRESULT hr = CoCreateInstance(installed.clsid, NULL, CLSCTX_INPROC_SERVER, installed.clsid,
                                        reinterpret_cast<void**>(&driver));
    return DriverRef(SUCCEEDED(hr) ? driver : nullptr);
}

// COM for the phase's thread.
class ComScope {
public:
    ComScope() : m_ready(SUCCEEDED(CoInitialize(NULL))) {}
    ~ComScope()
    {
        if (m_ready) CoUninitialize();
    }
    bool Ready() const { return m_ready; }

private:
    bool m_ready;
};

std::string Session(HostSystem& system, IASIO& driver, double seconds, AsioPhaseResult* result)
{
    HostSession session(driver);
    if (session.Open() != ASE_OK) return "the session did not open: " + session.Error();
    const double rate = session.Shape().rate > 0 ? session.Shape().rate : 48000;
    const int64_t frames = int64_t(seconds * rate);
    LoopbackCheck check;
    session.SetClock(ClockOf(system, rate));
    const uint64_t pastHostBefore = system.FramesPastHost();
    const SessionReport report = session.Run(check, frames, DWORD(seconds * 20000 + 30000));
    session.Close();
    result->samplesChecked += check.SamplesChecked();
    result->streamedMs += uint64_t(double(frames) * 1000 / rate);
    if (!session.Error().empty()) return session.Error();
    if (!report.completed) return "the stream stopped before it covered the time asked";
    if (!report.positionsInStep) return report.positionFault;
    if (!check.RoundTrip()) return "nothing came back through the loop";
    if (check.Mismatches() != 0) {
        if (system.FramesPastHost() == pastHostBefore) return "the loop came back changed: " + check.FirstMismatch();
        ++result->glitchesUnderLoad;
    }
    return "";
}

void RunSessions(std::mt19937_64& random, int sessions, AsioPhaseResult& result)
{
    SystemOptions options;
    options.product = kLoopingProduct;
    options.fastClock = true;
    std::string error;
    std::unique_ptr<HostSystem> system = HostSystem::Start(options, &error);
    if (!system) {
        result.fault = "the virtual Windows did not start: " + error;
        return;
    }
    ComScope com;
    const auto drivers = ListInstalledAsioDrivers();
    if (!com.Ready() || drivers.empty() || !drivers.front().clsidValid) {
        result.fault = "the ASIO driver is not registered";
        return;
    }
    // The desktop keeps the panel's script for every later panel (init opens
    // one on a first run) and its pictures with it: they live as long.
    static std::vector<std::string> pictures;
    pictures.clear();
    system->PlayUserOnNextPanel({}, &pictures);
    for (int i = 0; i < sessions && result.fault.empty(); ++i) {
        DriverRef driver = Create(drivers.front());
        if (!driver || driver->init(system->Window()) != ASIOTrue) {
            result.fault = "the ASIO driver did not initialise";
            break;
        }
        if (random() % 2 == 0) {
            // As a user would: a buffer length on the control panel, OK.
            const char* ms = kBufferLengthsMs[random() % std::size(kBufferLengthsMs)];
            system->PlayUserOnNextPanel({{"buffer", ms}}, &pictures);
            if (driver->controlPanel() != ASE_OK) {
                result.fault = "the control panel did not open";
                break;
            }
            ++result.panelChanges;
        }
        result.fault = Session(*system, *driver, 0.1 + double(random() % 2000) / 1000, &result);
        ++result.sessions;
    }
}

}  // namespace

AsioPhaseResult RunAsioPhase(std::mt19937_64& random, int sessions)
{
    AsioPhaseResult result;
    const size_t handles = umsim::OpenHandleCount();
    RunSessions(random, sessions, result);
    // The drivers released and the virtual Windows gone: nothing of theirs stays open.
    if (result.fault.empty() && umsim::OpenHandleCount() != handles) result.fault = "Win32 handles left open";
    return result;
}
