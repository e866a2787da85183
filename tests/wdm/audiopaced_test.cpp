// Clients come and go while the bus clock runs on its own thread, as on a
// real machine: two threads open, run, feed, pause, stop and close render
// pins over and over on one stream while a capture pin streams on the
// other. Whatever the interleaving, every frame ends, the mix holds only
// sums of what the clients sent, capture frames stay whole, and the render
// stream stops when its last client leaves.
#include "hardware/audiosink.h"
#include "hardware/audiosource.h"
#include "hardware/sample24.h"
#include "streamclient.h"

#include <atomic>
#include <set>
#include <thread>

namespace {

// Product 0x10: 4-channel render on 0x01 (pin 0), stereo capture on 0x82
// (pin 2). The render clients are stereo, so channels 2 and 3 stay silent.
constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr UCHAR kCaptureEndpoint = 0x82;
constexpr ULONG kFramesPerBuffer = 480;  // 10 ms at 48 kHz
constexpr int kCycles = 12;
constexpr int kRunsPerCycle = 2;
constexpr int kBuffersPerRun = 3;
// Bound on any wait, in USB frames: far beyond the two transfers of 10 ms
// that a frame may take to reach, so only a stalled stream runs into it.
constexpr ULONG kPatienceFrames = 2000;

// Each render client sends one constant on both channels; on the wire a
// sample is 0, either constant, or their sum.
struct RenderVoice {
    USHORT bits;
    int32_t sample;  // as the client sends it
    int32_t wire;    // as it reaches the 24-bit wire
};
constexpr RenderVoice kVoiceA{16, 0x0100, 0x010000};
constexpr RenderVoice kVoiceB{24, 0x000042, 0x000042};

// Waits for a request while the bus runs on its own, for at most `frames`
// USB frames of the virtual clock.
bool CompletesWithin(kmsim::KsStreamRequest& request, usbsim::Bus& bus, ULONG frames)
{
    const ULONG start = bus.CurrentFrame();
    while (!request.Done()) {
        if (bus.CurrentFrame() - start > frames) return false;
        std::this_thread::yield();
    }
    return true;
}

std::vector<uint8_t> Buffer(const RenderVoice& voice)
{
    std::vector<uint8_t> bytes;
    for (ULONG f = 0; f < kFramesPerBuffer * 2; ++f) PutSample(bytes, voice.sample, voice.bits);
    return bytes;
}

// Open, then run and pause a few times feeding buffers, then stop and
// close: every buffer ends as used up or as cancelled by the stop, and the
// first two of each run are used up while the pin runs.
void RenderCycles(DriverTestBed& bed, kmsim::KsClientHandle& filter, const RenderVoice& voice)
{
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        StreamClient client(bed.Bus(), filter, kRenderPin, PcmFormat(48000, voice.bits, 2));
        ASSERT_EQ(client.Status(), STATUS_SUCCESS);
        for (int run = 0; run < kRunsPerCycle; ++run) {
            ASSERT_EQ(client.Run(), STATUS_SUCCESS);
            const size_t first = client.Frames().size();
            for (int b = 0; b < kBuffersPerRun; ++b) client.Write(Buffer(voice));
            // Once the second buffer is taken, the transfer carrying the
            // first is on its way to the wire.
            EXPECT_TRUE(CompletesWithin(*client.Frames()[first + 1].request, bed.Bus(), kPatienceFrames))
                << "cycle " << cycle << " run " << run;
            ASSERT_EQ(client.Pause(), STATUS_SUCCESS);
        }
        ASSERT_EQ(client.Pin().SetState(KSSTATE_STOP), STATUS_SUCCESS);
        for (size_t i = 0; i < client.Frames().size(); ++i) {
            const NTSTATUS status = client.Frames()[i].request->Wait();
            if (i % kBuffersPerRun < 2) {
                EXPECT_EQ(status, STATUS_SUCCESS) << "cycle " << cycle << " buffer " << i;
            } else {
                EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << std::hex << status;
            }
        }
    }
}

TEST(AudioPaced, ClientsAttachDetachAndStreamWhileTheBusRunsOnItsOwn)
{
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    bed.Hardware().AudioIn(kCaptureEndpoint).SetRamp();
    kmsim::KsClientHandle* captureFilter = bed.OpenFilter();
    kmsim::KsClientHandle* filterA = bed.OpenFilter();
    kmsim::KsClientHandle* filterB = bed.OpenFilter();
    ASSERT_NE(captureFilter, nullptr);
    ASSERT_NE(filterA, nullptr);
    ASSERT_NE(filterB, nullptr);

    StreamClient capture(bed.Bus(), *captureFilter, kCapturePin, PcmFormat(48000, 24, 2));
    ASSERT_EQ(capture.Status(), STATUS_SUCCESS);
    const ULONG captureBytes = kFramesPerBuffer * 6;
    // Frames queue from PAUSE on.
    ASSERT_EQ(capture.Pause(), STATUS_SUCCESS);
    for (int i = 0; i < 4; ++i) capture.Read(captureBytes);

    // Real time: a stream starting while another runs gets a lead of at
    // least five frames for its first transfer, even for a slow thread.
    bed.Bus().StartPacing(1);
    ASSERT_EQ(capture.Run(), STATUS_SUCCESS);
    std::atomic<int> rendering{2};
    std::jthread a([&] {
        RenderCycles(bed, *filterA, kVoiceA);
        --rendering;
    });
    std::jthread b([&] {
        RenderCycles(bed, *filterB, kVoiceB);
        --rendering;
    });

    // Capture frames arrive whole, left and right still paired: the ramp
    // puts sample 2k + 1 right after sample 2k.
    size_t captured = 0;
    while (rendering > 0 && !capture.Frames().empty()) {
        if (!CompletesWithin(*capture.Frames().front().request, bed.Bus(), kPatienceFrames)) {
            ADD_FAILURE() << "capture stalled after " << captured << " frames";
            break;
        }
        for (auto& frame : capture.TakeCompleted()) {
            EXPECT_EQ(frame.request->Wait(), STATUS_SUCCESS);
            ASSERT_EQ(frame.header.DataUsed, captureBytes);
            for (ULONG i = 0; i + 6 <= captureBytes; i += 6) {
                const int32_t left = hardware::ReadSample24(&frame.data[i]);
                const int32_t right = hardware::ReadSample24(&frame.data[i + 3]);
                ASSERT_EQ(right, hardware::Wrap24(int64_t(left) + 1)) << "frame " << captured << " byte " << i;
                ASSERT_EQ(left % 2, 0) << "frame " << captured << " byte " << i;
            }
            ++captured;
            capture.Read(captureBytes);
        }
    }
    a.join();
    b.join();
    ASSERT_EQ(capture.Pause(), STATUS_SUCCESS);
    bed.Bus().StopPacing();
    EXPECT_GT(captured, 0u);

    // The last client's pause stopped the render stream and drained it.
    EXPECT_EQ(bed.Bus().Transfers(bed.Usb(), kRenderEndpoint).pending, 0u);
    const hardware::AudioSink& sink = bed.Hardware().AudioOut(kRenderEndpoint);
    EXPECT_EQ(sink.MisalignedPackets(), 0u);
    const std::set<int32_t> mixes{0, kVoiceA.wire, kVoiceB.wire, kVoiceA.wire + kVoiceB.wire};
    const std::vector<int32_t> samples = sink.Samples();
    ASSERT_FALSE(samples.empty());
    size_t heard = 0;
    for (size_t i = 0; i + 4 <= samples.size(); i += 4) {
        ASSERT_TRUE(mixes.count(samples[i])) << std::hex << samples[i] << " at " << std::dec << i;
        ASSERT_EQ(samples[i + 1], samples[i]) << "at " << i;
        ASSERT_EQ(samples[i + 2], 0) << "at " << i;
        ASSERT_EQ(samples[i + 3], 0) << "at " << i;
        if (samples[i] != 0) ++heard;
    }
    EXPECT_GT(heard, 0u);
}

}  // namespace
