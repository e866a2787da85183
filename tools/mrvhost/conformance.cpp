#include "conformance.h"

#include "hostsession.h"
#include "signals.h"

#include <cstdio>
#include <memory>

namespace {

struct Release {
    void operator()(IASIO* driver) const { driver->Release(); }
};
using Driver = std::unique_ptr<IASIO, Release>;

std::string Text(const char* format, long value)
{
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

std::string ErrorName(ASIOError error)
{
    switch (error) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
    default: return Text("%ld", long(error));
    }
}

class Run {
public:
    Run(const std::function<IASIO*()>& create, const ConformanceOptions& options) : m_create(create), m_options(options)
    {
    }

    // A driver past init, or null with a row saying why.
    Driver Initialised(const char* check)
    {
        Driver driver(m_create());
        if (!driver) {
            Add(check, "a driver object", "the driver could not be created", false);
            return nullptr;
        }
        if (driver->init(m_options.sysHandle) != ASIOTrue) {
            char message[128] = {};
            driver->getErrorMessage(message);
            message[sizeof message - 1] = 0;
            Add(check, "init returns ASIOTrue", std::string("ASIOFalse: ") + message, false);
            return nullptr;
        }
        return driver;
    }

    void Add(std::string check, std::string expected, std::string got, bool held)
    {
        m_rows.push_back({std::move(check), std::move(expected), std::move(got), held});
    }

    void Refused(const char* check, ASIOError got, ASIOError wanted)
    {
        Add(check, "refused (" + ErrorName(wanted) + ")", ErrorName(got), got != ASE_OK && got != ASE_SUCCESS);
    }

    void Basics()
    {
        Driver driver = Initialised("init");
        if (!driver) return;
        Add("init", "ASIOTrue", "ASIOTrue", true);
        LONG inputs = -1, outputs = -1;
        ASIOError error = driver->getChannels(&inputs, &outputs);
        Add("getChannels", "ASE_OK, at least one channel",
            ErrorName(error) + Text(", %ld in", inputs) + Text(", %ld out", outputs),
            error == ASE_OK && inputs >= 0 && outputs >= 0 && inputs + outputs > 0);
        LONG minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
        error = driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
        Add("getBufferSize", "ASE_OK, min <= preferred <= max",
            ErrorName(error) + Text(", %ld", minSize) + Text(" <= %ld", preferred) + Text(" <= %ld", maxSize),
            error == ASE_OK && minSize > 0 && minSize <= preferred && preferred <= maxSize);

        ASIOChannelInfo info{};
        info.channel = inputs;
        info.isInput = ASIOTrue;
        Refused("getChannelInfo, input past the last", driver->getChannelInfo(&info), ASE_InvalidParameter);
        info.channel = -1;
        info.isInput = ASIOFalse;
        Refused("getChannelInfo, channel -1", driver->getChannelInfo(&info), ASE_InvalidParameter);
        Refused("start before createBuffers", driver->start(), ASE_InvalidMode);

        ASIOCallbacks callbacks{};
        callbacks.bufferSwitch = [](LONG, ASIOBool) {};
        callbacks.asioMessage = [](LONG, LONG, void*, double*) -> LONG { return 0; };
        if (minSize != maxSize || granularity != 0) {
            Add("createBuffers, a size outside the range", "refused", "not checked: the driver offers a range", true);
        } else {
            ASIOBufferInfo one{ASIOFalse, 0, {nullptr, nullptr}};
            error = driver->createBuffers(&one, 1, preferred + 1, &callbacks);
            Add("createBuffers, a size outside the range", "refused, no buffers given",
                ErrorName(error) + (one.buffers[0] ? ", buffers given" : ""), error != ASE_OK && !one.buffers[0]);
            if (error == ASE_OK) driver->disposeBuffers();
        }
        ASIOBufferInfo past{ASIOFalse, outputs, {nullptr, nullptr}};
        error = driver->createBuffers(&past, 1, preferred, &callbacks);
        Add("createBuffers, output past the last", "refused, no buffers given",
            ErrorName(error) + (past.buffers[0] ? ", buffers given" : ""), error != ASE_OK && !past.buffers[0]);
        if (error == ASE_OK) driver->disposeBuffers();
        std::vector<ASIOBufferInfo> tooMany(size_t(inputs + outputs + 1));
        for (size_t i = 0; i < tooMany.size(); ++i) {
            tooMany[i].isInput = LONG(i) < inputs;
            tooMany[i].channelNum = LONG(i) < inputs ? LONG(i) : LONG(i) - inputs;
        }
        error = driver->createBuffers(tooMany.data(), LONG(tooMany.size()), preferred, &callbacks);
        Refused("createBuffers, more channels than the driver has", error, ASE_InvalidMode);
        if (error == ASE_OK) driver->disposeBuffers();
    }

    void InitTwice()
    {
        Driver driver = Initialised("init twice");
        if (!driver) return;
        const ASIOBool again = driver->init(m_options.sysHandle);
        LONG inputs = 0, outputs = 0;
        const ASIOError error = driver->getChannels(&inputs, &outputs);
        Add("init twice", "the driver stays usable", (again ? "ASIOTrue, " : "ASIOFalse, ") + ErrorName(error),
            error == ASE_OK);
    }

    // Streams for the run's time; the row holds when buffer switches came
    // and the sample position kept step.
    void Stream(const char* check, HostSession& session, DWORD callbackDelay = 0)
    {
        if (m_options.clock) session.SetClock(m_options.clock(session.Shape().rate));
        TonePlayer silence(440, 0);
        const int64_t many = int64_t(1) << 40;
        SessionReport report = session.Run(silence, many, m_options.streamMs, {}, callbackDelay);
        std::string got = Text("%ld switches", long(report.switches));
        if (!report.positionsInStep) got += ", " + report.positionFault;
        if (!session.Error().empty()) got += ", " + session.Error();
        Add(check, "buffer switches, position in step", got,
            report.switches > 1 && report.positionsInStep && session.Error().empty());
    }

    void Streaming()
    {
        Driver driver = Initialised("stream");
        if (!driver) return;
        HostSession session(*driver);
        if (session.Open() != ASE_OK) {
            Add("createBuffers, every channel", "ASE_OK", session.Error(), false);
            return;
        }
        Add("createBuffers, every channel", "ASE_OK", "ASE_OK", true);
        Stream("start, stream, stop", session);
        Add("stop twice", "ASE_OK", ErrorName(driver->stop()), true);
        Stream("start again after stop", session);
        const DWORD period = DWORD(1000.0 * session.Shape().bufferSize / (session.Shape().rate > 0 ? session.Shape().rate : 48000));
        Stream("a host slower than the buffer period", session, period + period / 2 + 1);
        Stream("streaming after the slow host", session);
    }

    void DisposeWhileRunning()
    {
        Driver driver = Initialised("disposeBuffers while running");
        if (!driver) return;
        HostSession session(*driver);
        if (session.Open() != ASE_OK) return;
        static std::atomic<long> switches{0};
        switches = 0;
        ASIOCallbacks callbacks{};
        callbacks.bufferSwitch = [](LONG, ASIOBool) { ++switches; };
        callbacks.asioMessage = [](LONG, LONG, void*, double*) -> LONG { return 0; };
        session.Close();
        LONG inputs = 0, outputs = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
        driver->getChannels(&inputs, &outputs);
        driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
        std::vector<ASIOBufferInfo> all(size_t(inputs + outputs));
        for (size_t i = 0; i < all.size(); ++i) {
            all[i].isInput = LONG(i) < inputs;
            all[i].channelNum = LONG(i) < inputs ? LONG(i) : LONG(i) - inputs;
        }
        if (driver->createBuffers(all.data(), LONG(all.size()), preferred, &callbacks) != ASE_OK ||
            driver->start() != ASE_OK) {
            Add("disposeBuffers while running", "no buffer switch afterwards", "could not start", false);
            return;
        }
        Sleep(m_options.streamMs / 2);
        const ASIOError error = driver->disposeBuffers();
        const long atDispose = switches;
        Sleep(m_options.streamMs / 2);
        const long after = switches - atDispose;
        driver->stop();
        Add("disposeBuffers while running", "no buffer switch afterwards",
            ErrorName(error) + Text(", %ld switches afterwards", after), after == 0);
    }

    std::vector<ConformanceRow> Rows() { return std::move(m_rows); }

private:
    const std::function<IASIO*()>& m_create;
    ConformanceOptions m_options;
    std::vector<ConformanceRow> m_rows;
};

}  // namespace

std::vector<ConformanceRow> CheckAsioDriver(const std::function<IASIO*()>& create, const ConformanceOptions& options)
{
    Run run(create, options);
    run.Basics();
    run.InitTwice();
    run.Streaming();
    run.DisposeWhileRunning();
    return run.Rows();
}
