// mrvhost: an ASIO host for the command line. It finds drivers as every
// host does (the registry's ASIO key, COM, IASIO), reports what a driver
// offers, plays, records and loops audio through it with a live progress
// line, measures the round trip, drives its control panel and checks it
// against what IASIO requires. On Linux it runs inside the virtual machine
// with the package's own drivers and a virtual Marvolan device.
#include "audiofile.h"
#include "conformance.h"
#include "hostsession.h"
#include "hostsystem.h"
#include "installeddrivers.h"
#include "signals.h"

#include <objbase.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#if defined(_WIN32)
#include <io.h>
#define MRV_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define MRV_ISATTY(f) isatty(fileno(f))
#endif

namespace {

struct Options {
    SystemOptions system;
    std::string driverName;  // empty: the package's driver, else the first
    double seconds = 2;
    double tone = 440;
    double level = 0.25;
    std::string file;
    DWORD callbackDelay = 0;
    bool noTimeInfo = false;
    std::vector<std::string> settings;
    bool about = false;
};

struct ReleaseDriver {
    void operator()(IASIO* driver) const { driver->Release(); }
};
using DriverRef = std::unique_ptr<IASIO, ReleaseDriver>;

// The host's side of one run: the system, COM, the chosen driver.
class Host {
public:
    explicit Host(Options options) : m_options(std::move(options)) {}
    ~Host()
    {
        if (m_comReady) CoUninitialize();
    }

    bool Start()
    {
        std::string error;
        m_system = HostSystem::Start(m_options.system, &error);
        if (!m_system) return Fail(error);
        m_comReady = SUCCEEDED(CoInitialize(NULL));
        if (!m_comReady) return Fail("COM could not be initialised");
        return true;
    }

    bool Choose()
    {
        const auto drivers = ListInstalledAsioDrivers();
        const InstalledAsioDriver* chosen = nullptr;
        for (const auto& driver : drivers) {
            const bool wanted = m_options.driverName.empty() ? driver.name.find("Marvolan") != std::string::npos
                                                             : driver.name == m_options.driverName;
            if (wanted && !chosen) chosen = &driver;
        }
        if (!chosen && m_options.driverName.empty() && !drivers.empty()) chosen = &drivers.front();
        if (!chosen) return Fail(m_options.driverName.empty() ? "no ASIO driver is installed"
                                                              : "no ASIO driver is named \"" + m_options.driverName + "\"");
        if (!chosen->clsidValid) return Fail("the ASIO key of \"" + chosen->name + "\" names no valid CLSID");
        m_driver = *chosen;
        return true;
    }

    // A new driver object, or null with the reason printed.
    DriverRef Create()
    {
        IASIO* driver = nullptr;
        const HRESULT hr = CoCreateInstance(m_driver.clsid, NULL, CLSCTX_INPROC_SERVER, m_driver.clsid,
                                            reinterpret_cast<void**>(&driver));
        if (FAILED(hr) || !driver) {
            char text[160];
            snprintf(text, sizeof text, "\"%s\" could not be created (CoCreateInstance: 0x%08lX)",
                     m_driver.name.c_str(), static_cast<unsigned long>(hr));
            Fail(text);
            return nullptr;
        }
        return DriverRef(driver);
    }

    // A created driver past init, or null with the driver's message.
    DriverRef Open()
    {
        DriverRef driver = Create();
        if (!driver) return nullptr;
        if (driver->init(m_system->Window()) != ASIOTrue) {
            char message[128] = {};
            driver->getErrorMessage(message);
            message[sizeof message - 1] = 0;
            Fail("\"" + m_driver.name + "\" failed to initialise" + (message[0] ? std::string(": ") + message : ""));
            return nullptr;
        }
        return driver;
    }

    bool Fail(const std::string& text)
    {
        std::cerr << "mrvhost: " << text << "\n";
        return false;
    }

    const Options& Opts() const { return m_options; }
    HostSystem& System() { return *m_system; }
    const InstalledAsioDriver& Driver() const { return m_driver; }

private:
    Options m_options;
    std::unique_ptr<HostSystem> m_system;
    bool m_comReady = false;
    InstalledAsioDriver m_driver;
};

std::string ClsidText(const CLSID& clsid)
{
    char text[40];
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)clsid.Data1,
             clsid.Data2, clsid.Data3, clsid.Data4[0], clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4],
             clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
    return text;
}

double Ms(double frames, double rate) { return rate > 0 ? 1000.0 * frames / rate : 0; }

int List(Host& host)
{
    const auto drivers = ListInstalledAsioDrivers();
    if (drivers.empty()) {
        std::cout << "no ASIO driver is installed\n";
        return 1;
    }
    for (const auto& driver : drivers) {
        std::cout << driver.name << "\n  CLSID        " << (driver.clsidValid ? ClsidText(driver.clsid) : driver.clsidText + " (not a CLSID)")
                  << "\n  Description  " << driver.description << "\n";
    }
    (void)host;
    return 0;
}

int Info(Host& host)
{
    DriverRef driver = host.Open();
    if (!driver) return 1;
    char name[64] = {};
    driver->getDriverName(name);
    name[32] = 0;
    std::cout << "Driver       " << name << " (version " << driver->getDriverVersion() << ")\n";
    // Rates first: a driver may fix its rate once the buffer size is asked.
    std::string offered;
    for (double rate : {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0}) {
        if (driver->canSampleRate(rate) == ASE_OK) offered += " " + std::to_string(long(rate));
    }
    HostSession session(*driver);
    if (session.Open() != ASE_OK) return host.Fail(session.Error()), 1;
    const DriverShape& shape = session.Shape();
    printf("Channels     %ld in, %ld out\n", long(shape.inputs), long(shape.outputs));
    for (const auto* infos : {&shape.inputInfo, &shape.outputInfo}) {
        for (const auto& info : *infos) {
            const auto type = HostSampleType::Of(info.type);
            printf("  %-6s %2ld  %-32s %s\n", info.isInput ? "in" : "out", long(info.channel + 1), info.name,
                   type ? type->Name() : "?");
        }
    }
    printf("Buffer       %ld frames (min %ld, max %ld, granularity %ld), %.2f ms\n", long(shape.bufferSize),
           long(shape.minSize), long(shape.maxSize), long(shape.granularity), Ms(shape.bufferSize, shape.rate));
    printf("Latencies    input %ld frames (%.2f ms), output %ld frames (%.2f ms)\n", long(shape.inputLatency),
           Ms(shape.inputLatency, shape.rate), long(shape.outputLatency), Ms(shape.outputLatency, shape.rate));
    printf("Sample rate  %.0f Hz; offered:%s\n", shape.rate, offered.c_str());
    ASIOClockSource clocks[8] = {};
    LONG count = 8;
    if (driver->getClockSources(clocks, &count) == ASE_OK) {
        for (LONG i = 0; i < count && i < 8; ++i) {
            clocks[i].name[sizeof clocks[i].name - 1] = 0;
            printf("Clock        %ld: %s%s\n", long(clocks[i].index), clocks[i].name,
                   clocks[i].isCurrentSource ? " (current)" : "");
        }
    }
    return 0;
}

// Streams with a live progress line on a terminal; false when the stream
// did not cover the time asked.
bool Stream(Host& host, HostSession& session, StreamProcessor& processor, SessionReport* report)
{
    const double rate = session.Shape().rate > 0 ? session.Shape().rate : 48000;
    const int64_t frames = int64_t(std::llround(host.Opts().seconds * rate));
    const bool live = MRV_ISATTY(stderr);
    const DWORD wallLimit = DWORD(std::min(3600.0, host.Opts().seconds * 4 + 10) * 1000);
    session.SetClock(ClockOf(host.System(), rate));
    *report = session.Run(processor, frames, wallLimit,
                          [&](const SessionProgress& progress) {
                              if (!live) return;
                              fprintf(stderr, "\r  %6.2f s  %8llu switches  position %10lld  %llu overloads ",
                                      double(progress.samplePosition < 0 ? 0 : progress.samplePosition) / rate,
                                      (unsigned long long)progress.switches, (long long)progress.samplePosition,
                                      (unsigned long long)progress.overloads);
                          },
                          host.Opts().callbackDelay);
    if (live) fprintf(stderr, "\n");
    printf("Streamed     %llu buffer switches, sample position %lld, %llu overloads%s\n",
           (unsigned long long)report->switches, (long long)report->lastSamplePosition,
           (unsigned long long)report->overloads, report->positionsInStep ? "" : " (position out of step)");
    if (!report->positionsInStep) printf("             %s\n", report->positionFault.c_str());
    if (report->resetRequests) printf("Reset        the driver asked the host to reset %llu time(s)\n",
                                      (unsigned long long)report->resetRequests);
    if (!session.Error().empty()) host.Fail(session.Error());
    if (!report->completed) host.Fail("the stream stopped before it covered the time asked");
    return report->completed && session.Error().empty();
}

int PlayOrRecord(Host& host, bool record)
{
    AudioClip clip;
    std::string error;
    const bool playFile = !record && !host.Opts().file.empty();
    if (playFile && !ReadAudioFile(host.Opts().file, &clip, &error)) return host.Fail(error), 1;
    DriverRef driver = host.Open();
    if (!driver) return 1;
    HostSession session(*driver);
    if (session.Open(!host.Opts().noTimeInfo) != ASE_OK) return host.Fail(session.Error()), 1;
    const double rate = session.Shape().rate;
    if (playFile && clip.rate != rate) {
        printf("Note         %s is at %.0f Hz; the driver runs at %.0f Hz and plays it unconverted\n",
               host.Opts().file.c_str(), clip.rate, rate);
    }
    TonePlayer tone(host.Opts().tone, host.Opts().level);
    ClipPlayer file(clip);
    StreamProcessor* player = playFile ? static_cast<StreamProcessor*>(&file) : &tone;
    Recorder recorder(player, size_t(host.Opts().seconds * rate) + size_t(session.Shape().bufferSize));
    SessionReport report;
    const bool streamed = Stream(host, session, record ? static_cast<StreamProcessor&>(recorder) : *player, &report);
    session.Close();
    if (record) {
        const AudioClip& recording = recorder.Finish();
        if (!WriteAudioFile(host.Opts().file, recording, session.Bits(), &error)) return host.Fail(error), 1;
        printf("Recorded     %zu frames of %u channels into %s\n", recording.Frames(), recording.channels,
               host.Opts().file.c_str());
    }
    return streamed ? 0 : 1;
}

int Loop(Host& host)
{
    DriverRef driver = host.Open();
    if (!driver) return 1;
    HostSession session(*driver);
    if (session.Open(!host.Opts().noTimeInfo) != ASE_OK) return host.Fail(session.Error()), 1;
    LoopbackCheck check;
    SessionReport report;
    bool ok = Stream(host, session, check, &report);
    const DriverShape& shape = session.Shape();
    if (!check.LoopedChannels()) return host.Fail("the driver has no input and output to loop"), 1;
    if (!check.RoundTrip()) {
        return host.Fail("nothing came back: is the device's output looped to its input?"), 1;
    }
    printf("Loopback     %llu samples on %zu channel(s) checked, %llu mismatched%s%s\n",
           (unsigned long long)check.SamplesChecked(), check.LoopedChannels(),
           (unsigned long long)check.Mismatches(), check.Mismatches() ? ": first at " : "",
           check.FirstMismatch().c_str());
    printf("Round trip   %lld frames (%.2f ms) measured; the driver reports %ld in + %ld out = %ld frames (%.2f ms)\n",
           (long long)*check.RoundTrip(), Ms(double(*check.RoundTrip()), shape.rate), long(shape.inputLatency),
           long(shape.outputLatency), long(shape.inputLatency + shape.outputLatency),
           Ms(shape.inputLatency + shape.outputLatency, shape.rate));
    if (host.System().FramesPastHost() != 0)
        printf("Clock        %llu bus frames passed while the host was behind (a busy machine)\n",
               (unsigned long long)host.System().FramesPastHost());
    ok = ok && check.Mismatches() == 0;
    printf("%s\n", ok ? "Loopback verified: what was played came back sample-exact and in order."
                      : "Loopback FAILED.");
    return ok ? 0 : 1;
}

int Latency(Host& host)
{
    DriverRef driver = host.Open();
    if (!driver) return 1;
    HostSession session(*driver);
    if (session.Open(!host.Opts().noTimeInfo) != ASE_OK) return host.Fail(session.Error()), 1;
    ClickLatency clicks;
    SessionReport report;
    const bool streamed = Stream(host, session, clicks, &report);
    const DriverShape& shape = session.Shape();
    std::vector<int64_t> trips = clicks.RoundTrips();
    if (trips.empty()) return host.Fail("no click came back: is the device's output looped to its input?"), 1;
    std::sort(trips.begin(), trips.end());
    const int64_t median = trips[trips.size() / 2];
    printf("Round trip   %lld frames (%.2f ms), median of %zu clicks (%lld to %lld)\n", (long long)median,
           Ms(double(median), shape.rate), trips.size(), (long long)trips.front(), (long long)trips.back());
    printf("Reported     input %ld + output %ld = %ld frames (%.2f ms), buffer %ld frames\n", long(shape.inputLatency),
           long(shape.outputLatency), long(shape.inputLatency + shape.outputLatency),
           Ms(shape.inputLatency + shape.outputLatency, shape.rate), long(shape.bufferSize));
    return streamed ? 0 : 1;
}

int Panel(Host& host)
{
    std::vector<PanelSetting> settings;
    for (const std::string& setting : host.Opts().settings) {
        const size_t equals = setting.find('=');
        if (equals == std::string::npos || equals == 0) return host.Fail("--set wants NAME=VALUE: " + setting), 2;
        const std::string name = setting.substr(0, equals);
        if (name != "buffer" && name != "rate" && name != "format" && name != "device") {
            return host.Fail("--set knows buffer, rate, format and device, not " + name), 2;
        }
        settings.push_back({name, setting.substr(equals + 1)});
    }
    if (host.Opts().about) settings.push_back({"about", ""});
    if (!settings.empty() && !host.System().CanPlayUser()) {
        return host.Fail("--set and --about need the virtual desktop; on Windows the panel opens for you to use"), 2;
    }
    // The panel works without a device too (its settings then apply at the
    // next init), so a failed init is reported and the panel still shown.
    DriverRef driver = host.Create();
    if (!driver) return 1;
    if (driver->init(host.System().Window()) != ASIOTrue) {
        printf("Note         init failed; the panel opens without a device\n");
    }
    std::vector<std::string> pictures;
    if (host.System().CanPlayUser()) host.System().PlayUserOnNextPanel(settings, &pictures);
    const ASIOError error = driver->controlPanel();
    for (const std::string& picture : pictures) std::cout << picture << "\n";
    if (error != ASE_OK) return host.Fail("controlPanel returned an error"), 1;
    // A changed buffer length reaches a running host as a reset request.
    LONG minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    if (driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity) == ASE_OK) {
        printf("Buffer       %ld frames for this driver object; a new one is needed for a changed setting\n",
               long(preferred));
    }
    return 0;
}

int Check(Host& host)
{
    ConformanceOptions options;
    options.sysHandle = host.System().Window();
    options.clock = [&host](double rate) { return ClockOf(host.System(), rate); };
    const auto rows = CheckAsioDriver([&]() -> IASIO* { return host.Create().release(); }, options);
    size_t width = 5;
    for (const auto& row : rows) width = std::max(width, row.check.size());
    int failed = 0;
    printf("%-*s  %-5s  %-40s  %s\n", int(width), "check", "held", "expected", "got");
    for (const auto& row : rows) {
        printf("%-*s  %-5s  %-40s  %s\n", int(width), row.check.c_str(), row.held ? "yes" : "NO", row.expected.c_str(),
               row.got.c_str());
        failed += !row.held;
    }
    printf("%zu checks, %d did not hold\n", rows.size(), failed);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"An ASIO host for the command line: lists, inspects, plays, records, loops and checks ASIO "
                 "drivers. On Linux it runs in a virtual machine with the Marvolan driver package and a virtual "
                 "device whose audio output is looped to its input."};
    app.require_subcommand(1);
    app.fallthrough();  // the options above may also follow the command
    Options options;
    app.add_option("--driver", options.driverName, "the ASIO driver by its name (default: Marvolan's, else the first)");
#if !defined(_WIN32)
    app.add_option("--product", options.system.product, "USB product id of the virtual device")
        ->capture_default_str()
        ->check(CLI::Range(0u, 0xFFFFu));
    app.add_flag("--fast", options.system.fastClock, "run the virtual bus as fast as the work allows, not in real time");
    app.add_option("--windows-root", options.system.windowsRoot,
                   "the virtual Windows root (registry, system directory) to use and keep; default: a fresh one");
    app.add_option("--asio-driver", options.system.asioDriver, "the ASIO driver module to register (default: the one built beside)");
#endif
    auto addStreamOptions = [&](CLI::App* command) {
        command->add_option("--seconds", options.seconds, "how long to stream")->capture_default_str()->check(CLI::Range(0.01, 3600.0));
        command->add_option("--callback-delay", options.callbackDelay, "make every buffer switch this many ms slower");
        command->add_flag("--no-timeinfo", options.noTimeInfo, "decline time-info buffer switches");
    };
    CLI::App* list = app.add_subcommand("list", "the ASIO drivers under the registry's ASIO key");
    CLI::App* info = app.add_subcommand("info", "what the driver offers: channels, buffer sizes, latencies, rates, clocks");
    CLI::App* play = app.add_subcommand("play", "play a WAV file, or a tone without one");
    play->add_option("file", options.file, "WAV file");
    play->add_option("--tone", options.tone, "tone frequency in Hz")->capture_default_str()->check(CLI::Range(1.0, 20000.0));
    play->add_option("--level", options.level, "tone level, 0 to 1")->capture_default_str()->check(CLI::Range(0.0, 1.0));
    addStreamOptions(play);
    CLI::App* record = app.add_subcommand("record", "record the inputs into a WAV file, playing a tone");
    record->add_option("file", options.file, "WAV file")->required();
    record->add_option("--tone", options.tone, "tone frequency in Hz")->capture_default_str()->check(CLI::Range(1.0, 20000.0));
    record->add_option("--level", options.level, "tone level, 0 to 1 (0: silence)")->capture_default_str()->check(CLI::Range(0.0, 1.0));
    addStreamOptions(record);
    CLI::App* loop = app.add_subcommand("loop", "play a counting signal and check that it comes back sample-exact");
    addStreamOptions(loop);
    CLI::App* latency = app.add_subcommand("latency", "measure the round trip with clicks through the loopback");
    addStreamOptions(latency);
    CLI::App* panel = app.add_subcommand("panel", "open the driver's control panel");
    panel->add_option("--set", options.settings, "act as the user: buffer=MS, rate=HZ, format=16|24, device=NAME");
    panel->add_flag("--about", options.about, "act as the user: press About... and show the About box");
    CLI::App* check = app.add_subcommand("check", "a conformance run of the driver; a table of what held");
    CLI11_PARSE(app, argc, argv);

    Host host(options);
    if (!host.Start()) return 1;
    if (list->parsed()) return List(host);
    if (!host.Choose()) return 1;
    if (info->parsed()) return Info(host);
    if (play->parsed()) return PlayOrRecord(host, false);
    if (record->parsed()) return PlayOrRecord(host, true);
    if (loop->parsed()) return Loop(host);
    if (latency->parsed()) return Latency(host);
    if (panel->parsed()) return Panel(host);
    if (check->parsed()) return Check(host);
    return 2;
}
