// Ten seconds of a known 24-bit signal played through a render pin and read
// back through the capture pin of a device that loops its output to its
// input: every sample arrives unchanged and in order.
#include "hardware/audiosource.h"
#include "loopbacksignal.h"
#include "streamclient.h"

namespace {

constexpr ULONG kRenderPin = 0;
constexpr ULONG kCapturePin = 2;
constexpr ULONG kLoopDelayFrames = 3;

class AudioLoopback : public testing::TestWithParam<ULONG> {};

TEST_P(AudioLoopback, TenSecondsArriveSampleExactAndInOrder)
{
    const ULONG rate = GetParam();
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(0x100), STATUS_SUCCESS);
    bed.Hardware().LoopBackAudio(kLoopDelayFrames);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);

    StreamClient render(bed.Bus(), *filter, kRenderPin, PcmFormat(rate, 24, 2, true));
    StreamClient capture(bed.Bus(), *filter, kCapturePin, PcmFormat(rate, 24, 2, true));
    ASSERT_EQ(render.Status(), STATUS_SUCCESS);
    ASSERT_EQ(capture.Status(), STATUS_SUCCESS);

    // 10-ms frames (441 or 480 audio frames of 6 bytes).
    const ULONG framesPerBuffer = rate / 100;
    const ULONG bufferBytes = framesPerBuffer * 6;
    const ULONG buffers = 1000;  // 10 s
    uint64_t rendered = 0;
    auto queueRender = [&] {
        std::vector<uint8_t> bytes;
        for (ULONG f = 0; f < framesPerBuffer; ++f, ++rendered)
            for (int c = 0; c < 2; ++c) PutSample(bytes, LoopbackSignal(rendered, c), 24);
        render.Write(std::move(bytes));
    };
    // Frames queue from PAUSE on.
    ASSERT_EQ(capture.Pause(), STATUS_SUCCESS);
    ASSERT_EQ(render.Pause(), STATUS_SUCCESS);
    for (int i = 0; i < 4; ++i) {
        queueRender();
        capture.Read(bufferBytes);
    }
    ASSERT_EQ(capture.Run(), STATUS_SUCCESS);
    ASSERT_EQ(render.Run(), STATUS_SUCCESS);

    std::vector<uint8_t> captured;
    ULONG renderedBuffers = 4;
    for (ULONG ms = 0; ms < buffers * 10 + 200; ms += 10) {
        bed.Bus().StepFrames(10);
        for (auto& done : render.TakeCompleted()) {
            (void)done;
            if (renderedBuffers < buffers) {
                queueRender();
                ++renderedBuffers;
            }
        }
        for (auto& done : capture.TakeCompleted()) {
            captured.insert(captured.end(), done.data.begin(), done.data.begin() + done.header.DataUsed);
            capture.Read(bufferBytes);
        }
    }

    // The capture starts with silence (the loop's delay and the transfers
    // in flight), then carries the signal from its first sample on.
    std::vector<int32_t> samples;
    for (size_t i = 0; i + 3 <= captured.size(); i += 3)
        samples.push_back(int32_t(uint32_t(captured[i]) << 8 | uint32_t(captured[i + 1]) << 16 |
                                  uint32_t(captured[i + 2]) << 24) >> 8);
    auto start = std::find(samples.begin(), samples.end(), LoopbackSignal(0, 0));
    ASSERT_NE(start, samples.end());
    const size_t silence = size_t(start - samples.begin()) / 2;
    for (auto it = samples.begin(); it != start; ++it) ASSERT_EQ(*it, 0);
    const size_t expected = size_t(buffers) * framesPerBuffer;
    ASSERT_GE(size_t(samples.end() - start) / 2, expected);
    for (size_t f = 0; f < expected; ++f)
        for (int c = 0; c < 2; ++c) ASSERT_EQ(start[f * 2 + c], LoopbackSignal(f, c)) << "frame " << f << " channel " << c;

    // Latency: a render buffer goes into the transfer after next, and the
    // device loops it back a few frames later; capture starts at the same
    // time, so the silence in front is that path in audio frames.
    const double latencyMs = double(silence) * 1000 / rate;
    EXPECT_GE(latencyMs, 10.0 + kLoopDelayFrames - 1);
    EXPECT_LE(latencyMs, 30.0 + kLoopDelayFrames + 1);
    RecordProperty("latency_ms", std::to_string(latencyMs));
}

INSTANTIATE_TEST_SUITE_P(Rates, AudioLoopback, testing::Values(44100u, 48000u));

}  // namespace
