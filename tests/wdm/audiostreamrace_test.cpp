// Everything that rebuilds, stops or starts a stream, from threads while the
// bus clock runs on its own: UrbSize changes from several clients, rate
// changes by pin creation, pins entering and leaving RUN, power changes and
// unplug. Whatever the interleaving, what the property reads is what the
// wire carries, every byte a client was told was played reached the wire,
// and nothing is freed under a transfer in flight (the sanitizers and the
// pool verifier watch for that).
#include "audiostream.h"
#include "devicesettingsclient.h"
#include "hardware/audiosink.h"
#include "km/registrystore.h"
#include "streamclient.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <thread>

namespace {

// The generic class device: stereo render on 0x03 (pin 0), stereo capture
// on 0x84 (pin 2).
constexpr uint16_t kGeneric = 0x100;
constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;
constexpr UCHAR kRenderEndpoint = 0x03;
constexpr UCHAR kCaptureEndpoint = 0x84;
constexpr ULONG kFrameBytes = 480 * 6;  // 10 ms of 48 kHz 24-bit stereo
// Bound on any wait, in USB frames of the virtual clock.
constexpr ULONG kPatienceFrames = 5000;

class AudioRace : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_bed.Plug(kGeneric), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
        m_device = DeviceContext(*m_filter);
        ASSERT_NE(m_device, nullptr);
    }
    void TearDown() override { m_bed.Bus().StopPacing(); }

    usbsim::Bus& Bus() { return m_bed.Bus(); }
    // Lets the paced clock run on for a number of frames.
    void WaitFrames(ULONG frames)
    {
        const ULONG start = Bus().CurrentFrame();
        while (Bus().CurrentFrame() - start < frames) std::this_thread::yield();
    }
    bool CompletesWithin(kmsim::KsStreamRequest& request, ULONG frames)
    {
        const ULONG start = Bus().CurrentFrame();
        while (!request.Done()) {
            if (Bus().CurrentFrame() - start > frames) return false;
            std::this_thread::yield();
        }
        return true;
    }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
    UsbAudioDevice* m_device = nullptr;
};

// ---- Audio a client was told was played is on the wire ----

class AudioRampRace : public AudioRace {
protected:
    // Render plays a ramp (sample i of the stream is i + 1) queued whole
    // before RUN, while capture runs beside it and `disturb` stops and
    // restarts the streams again and again. On the wire the ramp may pause
    // (silence while a stream restarts) but never skips or repeats.
    void PlayRampThrough(const std::function<void(int round)>& disturb)
    {
        // Many small frames: a service pass then spends long in the clients,
        // where a stop arriving meanwhile used to lose what they handed over.
        constexpr int kFrames = 5000;
        constexpr ULONG kSamplesPerFrame = 16;
        int32_t next = 1;
        StreamClient render(Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
        StreamClient capture(Bus(), *m_filter, kCapturePin, PcmFormat(48000, 24, 2));
        ASSERT_EQ(render.Status(), STATUS_SUCCESS);
        ASSERT_EQ(capture.Status(), STATUS_SUCCESS);
        // Frames queue from PAUSE on.
        ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
        ASSERT_EQ(capture.Pause(), STATUS_SUCCESS);
        for (int f = 0; f < kFrames; ++f) {
            std::vector<uint8_t> bytes;
            for (ULONG s = 0; s < kSamplesPerFrame; ++s) PutSample(bytes, next++, 24);
            render.Write(std::move(bytes));
        }
        for (int f = 0; f < 8; ++f) capture.Read(kFrameBytes);

        // Real time: a start then has its few frames of lead, as on a real
        // bus, and a late transfer (which loses audio by nature) stays rare.
        Bus().StartPacing(1);
        ASSERT_EQ(capture.Run(), STATUS_SUCCESS);
        ASSERT_EQ(render.Run(), STATUS_SUCCESS);
        // Disturb while the ramp plays, then let the rest of it play out.
        for (int round = 0; round < 100 && !render.Frames()[kFrames - kFrames / 10].request->Done(); ++round) {
            WaitFrames(2);
            disturb(round);
        }
        ASSERT_TRUE(CompletesWithin(*render.Frames().back().request, kPatienceFrames)) << "render stalled";
        ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
        ASSERT_EQ(capture.Pause(), STATUS_SUCCESS);
        Bus().StopPacing();

        for (auto& frame : render.Frames()) EXPECT_EQ(frame.request->Wait(), STATUS_SUCCESS);
        int32_t expected = 1;
        for (int32_t sample : m_bed.Hardware().AudioOut(kRenderEndpoint).Samples()) {
            if (sample == 0) continue;
            ASSERT_EQ(sample, expected) << "the ramp skipped or repeated on the wire";
            ++expected;
        }
        EXPECT_EQ(expected, next) << "client audio completed as played never reached the wire";
    }
};

TEST_F(AudioRampRace, UrbSizeChangesLoseNoRenderAudio)
{
    static constexpr ULONG kSizes[] = {2, 3, 1, 20, 21, 10};
    PlayRampThrough([&](int round) { EXPECT_EQ(SetUrbSize(m_filter, kSizes[round % 6]), STATUS_SUCCESS); });
}

TEST_F(AudioRampRace, PowerCyclesLoseNoRenderAudio)
{
    PlayRampThrough([&](int) {
        EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
        EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
    });
}

// ---- UrbSize against rates, RUN and other clients ----

// A rate change rebuilds the transfers as much as an UrbSize change does;
// the two never rebuild one stream at once.
TEST_F(AudioRace, RateChangesByPinCreationAgainstUrbSizeChanges)
{
    kmsim::KsClientHandle* other = m_bed.OpenFilter();
    ASSERT_NE(other, nullptr);
    Bus().StartPacing(0);
    std::atomic<bool> creating{true};
    std::jthread pins([&] {
        for (int i = 0; i < 60; ++i) {
            StreamClient pin(Bus(), *m_filter, kRenderPin, PcmFormat(i % 2 ? 44100 : 48000, 24, 2));
            EXPECT_EQ(pin.Status(), STATUS_SUCCESS);
        }
        creating = false;
    });
    for (ULONG i = 0; creating; ++i) EXPECT_EQ(SetUrbSize(other, 2 + i % 2), STATUS_SUCCESS);
}

// However pins enter RUN between the steps of a change, once the property
// is set every stream carries that many packets a transfer.
TEST_F(AudioRace, EveryUrbSizeSetIsWhatTheStreamsCarryWhilePinsEnterAndLeaveRun)
{
    kmsim::KsClientHandle* other = m_bed.OpenFilter();
    ASSERT_NE(other, nullptr);
    StreamClient render(Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    Bus().StartPacing(0);
    std::atomic<bool> setting{true};
    std::jthread toggler([&] {
        while (setting) {
            EXPECT_EQ(render.Run(), STATUS_SUCCESS);
            EXPECT_EQ(render.Pause(), STATUS_SUCCESS);
        }
    });
    for (ULONG i = 0; i < 200; ++i) {
        const ULONG value = 2 + i % 2;
        ASSERT_EQ(SetUrbSize(other, value), STATUS_SUCCESS);
        ASSERT_EQ(GetUrbSize(other), value);
        for (AudioStream* stream : {m_device->RenderStream(0), m_device->CaptureStream(0)}) {
            ASSERT_EQ(stream->UrbSize(), value) << "round " << i;
            ASSERT_EQ(stream->Transfer(0).packets, value) << "round " << i;
            ASSERT_EQ(stream->Transfer(1).packets, value) << "round " << i;
        }
    }
    setting = false;
}

// Two clients set different values at once: one of them wins everywhere,
// the property, both streams and the device's registry value alike.
TEST_F(AudioRace, TwoClientsSettingUrbSizeAtOnceLeaveOneValueEverywhere)
{
    kmsim::KsClientHandle* other = m_bed.OpenFilter();
    ASSERT_NE(other, nullptr);
    StreamClient render(Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    Bus().StartPacing(0);
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);
    for (int round = 0; round < 100; ++round) {
        {
            std::atomic<int> ready{0};
            auto set = [&](kmsim::KsClientHandle* filter, ULONG value) {
                ++ready;
                while (ready < 2) std::this_thread::yield();
                EXPECT_EQ(SetUrbSize(filter, value), STATUS_SUCCESS);
            };
            std::jthread a([&] { set(m_filter, 6 + round % 2); });
            std::jthread b([&] { set(other, 8 + round % 2); });
        }
        const ULONG value = GetUrbSize(m_filter);
        ASSERT_EQ(m_device->RenderStream(0)->UrbSize(), value) << "round " << round;
        ASSERT_EQ(m_device->CaptureStream(0)->UrbSize(), value) << "round " << round;
        ASSERT_EQ(kmsim::GetDword(DriverTestBed::kDriverKey, "UrbSize"), value) << "round " << round;
    }
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
}

// ---- Streams starting together ----

// Render and capture enter RUN at the same moment with nothing running:
// both land on one frame grid.
TEST_F(AudioRace, StreamsStartingTogetherShareOneFrameGrid)
{
    constexpr ULONG kUrbSize = 10;
    StreamClient render(Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
    StreamClient capture(Bus(), *m_filter, kCapturePin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    ASSERT_EQ(capture.Status(), STATUS_SUCCESS);
    // A fast clock: frames pass while the two starts are under way.
    Bus().StartPacing(4);
    for (int round = 0; round < 40; ++round) {
        m_bed.Usb().ClearLog();
        {
            std::atomic<int> ready{0};
            auto run = [&](StreamClient& client) {
                ++ready;
                while (ready < 2) std::this_thread::yield();
                EXPECT_EQ(client.Run(), STATUS_SUCCESS);
            };
            std::jthread a([&] { run(render); });
            std::jthread b([&] { run(capture); });
        }
        WaitFrames(3 * kUrbSize);
        ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
        ASSERT_EQ(capture.Pause(), STATUS_SUCCESS);

        std::map<UCHAR, std::vector<ULONG>> starts;
        for (const auto& record : m_bed.Usb().Log())
            if (record.function == URB_FUNCTION_ISOCH_TRANSFER) starts[record.endpointAddress].push_back(record.startFrame);
        const auto& r = starts[kRenderEndpoint];
        const auto& c = starts[kCaptureEndpoint];
        ASSERT_FALSE(r.empty());
        ASSERT_FALSE(c.empty());
        // Starts far apart (a thread held up on a loaded machine, a stream
        // that stopped itself meanwhile) may rightly begin a new grid.
        const LONG apart = LONG(r[0] - c[0]);
        if (apart > -LONG(3 * kUrbSize) && apart < LONG(3 * kUrbSize)) {
            EXPECT_EQ(apart % LONG(kUrbSize), 0) << "round " << round << ": " << r[0] << " and " << c[0];
        }
    }
}

// ---- Power and removal at every moment of a stream's life ----

enum class Activity { RunAtPace, EnteringRun, RateChange, UrbSizeChange };
enum class Disturbance { PowerCycles, Unplug };
struct MatrixCell {
    Activity activity;
    Disturbance disturbance;
    const char* name;
};

class AudioPowerRemovalRace : public AudioRace, public testing::WithParamInterface<MatrixCell> {
protected:
    // Ramp frames of 10 ms from `next` on; every sample is non-zero.
    static std::vector<uint8_t> RampFrame(int32_t& next)
    {
        std::vector<uint8_t> bytes;
        for (ULONG s = 0; s < kFrameBytes / 3; ++s) PutSample(bytes, next++, 24);
        return bytes;
    }
    // Non-zero samples on the render wire are 1, 2, 3, ... up to last.
    void ExpectRampOnTheWire(int32_t last)
    {
        int32_t expected = 1;
        for (int32_t sample : m_bed.Hardware().AudioOut(kRenderEndpoint).Samples()) {
            if (sample == 0) continue;
            ASSERT_EQ(sample, expected) << "the ramp skipped or repeated on the wire";
            ++expected;
        }
        EXPECT_EQ(expected, last + 1) << "audio completed as played never reached the wire";
    }
    // A fresh client's ramp plays whole, and nothing is left pending after.
    void ExpectServiceRestored()
    {
        kmsim::KsClientHandle* filter = m_bed.OpenFilter();
        ASSERT_NE(filter, nullptr);
        m_bed.Hardware().AudioOut(kRenderEndpoint).Clear();
        StreamClient render(Bus(), *filter, kRenderPin, PcmFormat(48000, 24, 2));
        ASSERT_EQ(render.Status(), STATUS_SUCCESS);
        ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
        int32_t next = 1;
        for (int f = 0; f < 10; ++f) render.Write(RampFrame(next));
        Bus().StartPacing(4);
        ASSERT_EQ(render.Run(), STATUS_SUCCESS);
        ASSERT_TRUE(CompletesWithin(*render.Frames().back().request, kPatienceFrames)) << "no service";
        ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
        Bus().StopPacing();
        Bus().Flush();
        EXPECT_EQ(Bus().Transfers(m_bed.Usb(), kRenderEndpoint).pending, 0u);
        ExpectRampOnTheWire(next - 1);
    }
};

TEST_P(AudioPowerRemovalRace, NoHangNoLossAndServiceAfterwards)
{
    const MatrixCell cell = GetParam();
    kmsim::KsClientHandle* other = m_bed.OpenFilter();
    ASSERT_NE(other, nullptr);
    std::atomic<bool> gone{false};
    int32_t next = 1;
    // The pin that plays or enters RUN; a rate change needs none open.
    std::optional<StreamClient> playing;
    if (cell.activity == Activity::RunAtPace || cell.activity == Activity::EnteringRun) {
        playing.emplace(Bus(), *m_filter, kRenderPin, PcmFormat(48000, 24, 2));
        ASSERT_EQ(playing->Pause(), STATUS_SUCCESS);
    }
    if (cell.activity == Activity::RunAtPace) {
        ASSERT_EQ(playing->Run(), STATUS_SUCCESS);
    }

    Bus().StartPacing(cell.activity == Activity::RunAtPace ? 1 : 4);
    std::jthread activity([&] {
        for (int round = 0; round < 30; ++round) {
            switch (cell.activity) {
            case Activity::RunAtPace: {
                // Without a device the stream stopped itself: frames wait for
                // the pin to stop, which ends them.
                if (gone) return;
                kmsim::KsStreamRequest& request = *playing->Write(RampFrame(next)).request;
                const ULONG start = Bus().CurrentFrame();
                while (!request.Done() && !gone && Bus().CurrentFrame() - start < kPatienceFrames)
                    std::this_thread::yield();
                EXPECT_TRUE(gone || (request.Done() && request.Wait() == STATUS_SUCCESS)) << "round " << round;
                break;
            }
            case Activity::EnteringRun: {
                const NTSTATUS run = playing->Run();
                EXPECT_TRUE(NT_SUCCESS(run) || gone) << std::hex << run;
                EXPECT_TRUE(NT_SUCCESS(playing->Pause()) || gone);
                break;
            }
            case Activity::RateChange: {
                StreamClient pin(Bus(), *other, kCapturePin, PcmFormat(round % 2 ? 44100 : 48000, 24, 2));
                EXPECT_TRUE(NT_SUCCESS(pin.Status()) || gone) << std::hex << pin.Status();
                break;
            }
            case Activity::UrbSizeChange: {
                const NTSTATUS status = SetUrbSize(other, 2 + round % 2);
                EXPECT_TRUE(NT_SUCCESS(status) || gone) << std::hex << status;
                break;
            }
            }
        }
    });
    if (cell.disturbance == Disturbance::PowerCycles) {
        for (int i = 0; i < 5; ++i) {
            WaitFrames(7);
            EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
            EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
        }
    } else {
        WaitFrames(40);
        gone = true;
        Bus().Unplug(m_bed.Usb());
    }
    activity.join();
    if (playing) {
        EXPECT_TRUE(NT_SUCCESS(playing->Pause()) || gone);
    }
    playing.reset();
    Bus().StopPacing();

    if (cell.disturbance == Disturbance::PowerCycles) {
        if (cell.activity == Activity::RunAtPace) ExpectRampOnTheWire(next - 1);
    } else {
        // Removal returns, and the same device plugged again streams.
        m_bed.Unplug();
        ASSERT_EQ(m_bed.Plug(kGeneric), STATUS_SUCCESS);
    }
    ExpectServiceRestored();
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, AudioPowerRemovalRace,
    testing::Values(MatrixCell{Activity::RunAtPace, Disturbance::PowerCycles, "RunAtPaceThroughPowerCycles"},
                    MatrixCell{Activity::EnteringRun, Disturbance::PowerCycles, "EnteringRunThroughPowerCycles"},
                    MatrixCell{Activity::RateChange, Disturbance::PowerCycles, "RateChangeThroughPowerCycles"},
                    MatrixCell{Activity::UrbSizeChange, Disturbance::PowerCycles, "UrbSizeChangeThroughPowerCycles"},
                    MatrixCell{Activity::RunAtPace, Disturbance::Unplug, "RunAtPaceThroughUnplug"},
                    MatrixCell{Activity::EnteringRun, Disturbance::Unplug, "EnteringRunThroughUnplug"},
                    MatrixCell{Activity::RateChange, Disturbance::Unplug, "RateChangeThroughUnplug"},
                    MatrixCell{Activity::UrbSizeChange, Disturbance::Unplug, "UrbSizeChangeThroughUnplug"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Everything at once ----

// Rounds from MRV_STRESS_ROUNDS (by hand, for long runs); a short slice
// otherwise.
int StressRounds()
{
    const char* value = std::getenv("MRV_STRESS_ROUNDS");
    return value ? std::atoi(value) : 40;
}

// Pins opened at changing rates, RUN and PAUSE, UrbSize changes and power
// cycles from four threads, then the cable pulled while they go on: no
// hang, no leak, nothing freed under a transfer; the property, the streams
// and the registry agree at the end, and every request of every client
// ended with a status.
TEST_F(AudioRace, StressUrbSizeAgainstPinsRatesRunPausePowerAndUnplug)
{
    const int rounds = StressRounds();
    std::vector<kmsim::KsClientHandle*> filters{m_filter};
    for (int i = 0; i < 3; ++i) filters.push_back(m_bed.OpenFilter());
    for (auto* f : filters) ASSERT_NE(f, nullptr);
    Bus().StartPacing(0);
    std::atomic<bool> unplugged{false};

    auto pinChurn = [&](kmsim::KsClientHandle* filter, ULONG pinId, unsigned seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < rounds; ++i) {
            const ULONG rate = random() % 3 ? 48000 : 44100;
            StreamClient pin(Bus(), *filter, pinId, PcmFormat(rate, random() % 2 ? 24 : 16, 2));
            // A rate other pins hold, or a gone device, refuses the pin.
            if (!NT_SUCCESS(pin.Status())) continue;
            EXPECT_TRUE(NT_SUCCESS(pin.Pause()) || unplugged);
            for (int k = 0; k < 3; ++k) {
                if (pinId == kRenderPin)
                    pin.Write(std::vector<uint8_t>(kFrameBytes, uint8_t(k + 1)));
                else
                    pin.Read(kFrameBytes);
                const NTSTATUS run = pin.Run();
                EXPECT_TRUE(NT_SUCCESS(run) || unplugged) << std::hex << run;
                EXPECT_TRUE(NT_SUCCESS(pin.Pause()) || unplugged);
            }
            EXPECT_TRUE(NT_SUCCESS(pin.Pin().SetState(KSSTATE_STOP)) || unplugged);
            for (auto& frame : pin.Frames()) {
                const NTSTATUS status = frame.request->Wait();
                EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED || unplugged) << std::hex << status;
            }
        }
    };
    {
        std::jthread render([&] { pinChurn(filters[0], kRenderPin, 1); });
        std::jthread capture([&] { pinChurn(filters[1], kCapturePin, 2); });
        std::jthread urbSize([&] {
            for (int i = 0; i < rounds; ++i) {
                const NTSTATUS status = SetUrbSize(filters[2], 1 + i % 12);
                EXPECT_TRUE(NT_SUCCESS(status) || unplugged) << std::hex << status;
            }
        });
        std::jthread power([&] {
            for (int i = 0; i < rounds / 4; ++i) {
                EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
                EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
            }
        });
        power.join();
        urbSize.join();
        // The cable goes while pins still come and go.
        unplugged = true;
        Bus().Unplug(m_bed.Usb());
    }
    const ULONG value = GetUrbSize(filters[3]);
    EXPECT_EQ(m_device->RenderStream(0)->UrbSize(), value);
    EXPECT_EQ(m_device->CaptureStream(0)->UrbSize(), value);
    if (value != kDefaultUrbSize) {
        EXPECT_EQ(kmsim::GetDword(DriverTestBed::kDriverKey, "UrbSize"), value);
    }
}

}  // namespace
