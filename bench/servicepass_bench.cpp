// One whole service pass of a render stream: the completion of one 10-ms
// transfer (10 packets of 48 frames at 48 kHz, 4 channels, product 0x10)
// with four clients attached. The driver is loaded through the PnP manager
// and the clients are real pins fed with stream requests; the device object
// the driver sends its USB requests to keeps the stream's transfers, so that
// each iteration is exactly one completion: packet sizing, Process of every
// pin (conversion, stream pointer, the finished frame's request completed)
// and the resubmission.
//
// Reported as "memcpy_%" (against memcpy of the transfer's 5760 bytes) and
// as "period_ppm", the pass's share of its 10-ms period in parts per million.
#include "memcpyreference.h"
#include "parkingpdo.h"

#include "hardware/devices.h"
#include "km/ksclient.h"
#include "km/ksdeviceinterfaces.h"
#include "km/pnpmanager.h"
#include "km/verifier.h"
#include "kspinrequests.h"
#include "usb/bus.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

constexpr ULONG kRate = 48000;
constexpr ULONG kFramesPerPass = 480;    // one 10-ms transfer
constexpr ULONG kTransferBytes = 5760;   // 10 packets of 48 frames of 4 × 3 bytes
constexpr double kPeriodSeconds = 0.010;
constexpr ULONG kRenderPin = 0;
// Frames queued per client at a time; each pass uses one of each client.
constexpr ULONG kQueuedFrames = 64;

// A session as it looks on this 4-out interface, in the order the clients
// start: an ASIO host playing all four outputs at 24 bits (written first,
// copied as is), the system's mixer at 16-bit stereo, a media player at
// 24-bit stereo, and a cue mix at 16 bits on all four outputs. The first
// writes the transfer, the other three mix into it.
struct ClientFormat {
    USHORT bits;
    USHORT channels;
};
constexpr ClientFormat kSession[] = {{24, 4}, {16, 2}, {24, 2}, {16, 4}};

[[noreturn]] void Fail(const char* what, NTSTATUS status = 0)
{
    std::fprintf(stderr, "servicepass_bench: %s (0x%08X)\n", what, unsigned(status));
    std::abort();
}

struct Frame {
    KSSTREAM_HEADER header{};
    std::unique_ptr<kmsim::KsStreamRequest> request;
};

struct Client {
    std::unique_ptr<kmsim::KsClientHandle> filter;
    std::unique_ptr<kmsim::KsClientHandle> pin;
    std::vector<UCHAR> audio;  // one pass of client audio, reused by every frame
    std::vector<Frame> frames;
};

// The virtual machine of one session: bus, device, driver, four pins.
class Session {
public:
    Session()
        : m_usb(m_bus.Plug(hardware::MakeDevice(hardware::kAudioMidi))), m_parking(m_usb.Pdo())
    {
        if (!m_parking.Pdo()) Fail("no device object");
        if (NTSTATUS s = kmsim::LoadDriver("mrvusbaudio", DriverEntry, &m_driver); !NT_SUCCESS(s))
            Fail("the driver did not load", s);
        if (NTSTATUS s = kmsim::PlugDevice(m_driver, m_parking.Pdo(), "USB\\VID_3A1E&PID_0010\\bench"); !NT_SUCCESS(s))
            Fail("the device did not start", s);
        const auto interfaces = kmsim::DeviceInterfaces(KSCATEGORY_AUDIO);
        if (interfaces.empty()) Fail("no audio interface");
        m_clients.reserve(std::size(kSession));

        for (const ClientFormat& format : kSession) {
            Client& client = m_clients.emplace_back();
            if (NTSTATUS s = kmsim::KsClientHandle::OpenFilter(interfaces.back().symbolicLink, &client.filter);
                !NT_SUCCESS(s))
                Fail("a filter did not open", s);
            const WaveFormat wave = PcmFormat(kRate, format.bits, format.channels);
            if (NTSTATUS s = client.filter->CreatePin(PinConnect(kRenderPin), &wave.format, &client.pin);
                !NT_SUCCESS(s))
                Fail("a render pin did not open", s);
            client.audio.resize(size_t(kFramesPerPass) * format.channels * format.bits / 8);
            for (size_t i = 0; i < client.audio.size(); ++i) client.audio[i] = UCHAR(i * 37 + 11);
            client.frames.resize(kQueuedFrames);
            if (NTSTATUS s = client.pin->SetState(KSSTATE_RUN); !NT_SUCCESS(s)) Fail("a pin did not run", s);
        }
        // The first client started the stream: both transfers are kept.
        if (m_parking.Parked() != 2) Fail("the stream did not hand down its two transfers");
    }

    ~Session()
    {
        // Cancelled completions stop the stream by itself, so that the pins
        // leave RUN without waiting for transfers that would never end.
        while (m_parking.CompleteOldest(STATUS_CANCELLED)) {
        }
        for (Client& client : m_clients) {
            client.pin->SetState(KSSTATE_STOP);
            client.frames.clear();
            client.pin->Close();
            client.filter->Close();
        }
        kmsim::UnplugDevice(m_parking.Pdo());
        kmsim::UnloadDriver(m_driver);
    }

    // Frames left for the passes to come before QueueFrames is needed.
    ULONG FramesLeft() const { return m_framesLeft; }

    // Every earlier frame must be used up and done; each client gets
    // kQueuedFrames new ones of one pass each.
    void QueueFrames()
    {
        for (Client& client : m_clients) {
            for (Frame& frame : client.frames) {
                if (!frame.request) continue;
                if (!frame.request->Done() || frame.request->Wait() != STATUS_SUCCESS)
                    Fail("a client frame was not used up by its pass");
                frame.request.reset();
            }
            for (Frame& frame : client.frames) {
                frame.header = KSSTREAM_HEADER{};
                frame.header.Size = sizeof(KSSTREAM_HEADER);
                frame.header.FrameExtent = frame.header.DataUsed = ULONG(client.audio.size());
                frame.header.Data = client.audio.data();
                if (NTSTATUS s = client.pin->SubmitStream(IOCTL_KS_WRITE_STREAM, &frame.header,
                                                          sizeof(frame.header), &frame.request);
                    !NT_SUCCESS(s))
                    Fail("a frame was refused", s);
            }
        }
        m_framesLeft = kQueuedFrames;
    }

    void ServeOnePass()
    {
        if (!m_parking.CompleteOldest()) Fail("no transfer in flight");
        --m_framesLeft;
    }

private:
    usbsim::Bus m_bus;
    usbsim::BusDevice& m_usb;
    bench::ParkingPdo m_parking;
    PDRIVER_OBJECT m_driver = nullptr;
    std::vector<Client> m_clients;
    ULONG m_framesLeft = 0;
};

Session* g_session;

void BM_RenderServicePass(benchmark::State& state)
{
    Session& session = *g_session;
    double paused = 0;
    const double start = bench::ThreadSeconds();
    for (auto _ : state) {
        if (session.FramesLeft() == 0) {
            state.PauseTiming();
            const double queueing = bench::ThreadSeconds();
            session.QueueFrames();
            paused += bench::ThreadSeconds() - queueing;
            state.ResumeTiming();
        }
        session.ServeOnePass();
    }
    const double seconds = bench::ThreadSeconds() - start - paused;
    bench::ReportAgainstMemcpy(state, kTransferBytes, seconds);
    state.counters["period_ppm"] = 1e6 * seconds / double(state.iterations()) / kPeriodSeconds;
}

}  // namespace

BENCHMARK(BM_RenderServicePass);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kmsim::SetViolationHandler([](const kmsim::Violation& v) {
        std::fprintf(stderr, "verifier (%s): %s\n", v.category.c_str(), v.message.c_str());
        std::abort();
    });
    {
        Session session;
        g_session = &session;
        benchmark::RunSpecifiedBenchmarks();
        g_session = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
