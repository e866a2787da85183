#include "audioloopsession.h"

#include "kspinrequests.h"
#include "loopbacksignal.h"
#include "streamframequeue.h"

#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerSample = 3;
constexpr int kQueued = 4;
// Bus time after the last buffer for it to come back through the loop.
constexpr uint32_t kTailMs = 200;


// A pin with its queued frames; every frame ends before the pin closes.
class AudioPin {
public:
    AudioPin(KernelRig& rig, ULONG pinId, const WaveFormat& format) : m_rig(rig)
    {
        m_status = rig.Filter()->CreatePin(PinConnect(pinId), &format.format, &m_pin);
    }
    ~AudioPin()
    {
        if (!m_pin) return;
        Leave(KSSTATE_STOP);
        m_frames.CancelAll();
        m_pin->Close();
    }
    NTSTATUS Status() const { return m_status; }
    NTSTATUS Enter(KSSTATE state) { return m_pin->SetState(state); }
    // Leaving RUN waits for the stream's transfers, which end only as bus
    // frames pass: the clock runs on its own meanwhile.
    NTSTATUS Leave(KSSTATE state)
    {
        m_rig.Bus().StartPacing(0);
        const NTSTATUS status = m_pin->SetState(state);
        m_rig.Bus().StopPacing();
        return status;
    }
    NTSTATUS Queue(std::vector<uint8_t> bytes, bool capture) { return m_frames.Submit(*m_pin, std::move(bytes), capture); }
    // Completed frames at the head: their bytes, or a failed status.
    bool TakeCompleted(std::vector<uint8_t>* bytes, NTSTATUS* status)
    {
        StreamFrameQueue::Frame* frame = m_frames.CompletedHead();
        if (!frame) return false;
        *status = frame->request->Wait();
        bytes->assign(frame->data.begin(), frame->data.begin() + frame->header.DataUsed);
        m_frames.PopHead();
        return true;
    }

private:
    KernelRig& m_rig;
    NTSTATUS m_status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<kmsim::KsClientHandle> m_pin;
    StreamFrameQueue m_frames;
};

}  // namespace

AudioSessionResult RunAudioLoopSession(KernelRig& rig, ULONG renderPin, ULONG capturePin, ULONG rate,
                                       uint32_t buffers)
{
    AudioSessionResult result;
    const WaveFormat format = PcmFormat(rate, 8 * kBytesPerSample, kChannels, true);
    AudioPin render(rig, renderPin, format);
    AudioPin capture(rig, capturePin, format);
    if (!NT_SUCCESS(render.Status()) || !NT_SUCCESS(capture.Status())) {
        result.fault = "an audio pin did not open";
        return result;
    }
    const uint32_t framesPerBuffer = rate / 100;
    const ULONG bufferBytes = framesPerBuffer * kChannels * kBytesPerSample;
    uint64_t rendered = 0;
    uint32_t renderedBuffers = 0;
    auto queueRender = [&] {
        std::vector<uint8_t> bytes;
        bytes.reserve(bufferBytes);
        for (uint32_t f = 0; f < framesPerBuffer; ++f, ++rendered) {
            for (int c = 0; c < kChannels; ++c) {
                const int32_t v = LoopbackSignal(rendered, c);
                for (int b = 0; b < kBytesPerSample; ++b) bytes.push_back(uint8_t(v >> (8 * b)));
            }
        }
        ++renderedBuffers;
        return render.Queue(std::move(bytes), false);
    };

    NTSTATUS status = STATUS_SUCCESS;
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE}) {
        if (NT_SUCCESS(status)) status = capture.Enter(state);
        if (NT_SUCCESS(status)) status = render.Enter(state);
    }
    // Frames queue from PAUSE on.
    for (int i = 0; i < kQueued && NT_SUCCESS(status); ++i) {
        status = queueRender();
        if (NT_SUCCESS(status)) status = capture.Queue(std::vector<uint8_t>(bufferBytes, 0xEE), true);
    }
    if (NT_SUCCESS(status)) status = capture.Enter(KSSTATE_RUN);
    if (NT_SUCCESS(status)) status = render.Enter(KSSTATE_RUN);
    if (!NT_SUCCESS(status)) {
        result.fault = "an audio pin refused a state or a frame";
        return result;
    }

    std::vector<uint8_t> captured, bytes;
    NTSTATUS frameStatus = STATUS_SUCCESS;
    for (uint32_t ms = 0; ms < buffers * 10 + kTailMs; ms += 10) {
        rig.Bus().StepFrames(10);
        result.busFrames += 10;
        std::this_thread::yield();
        while (render.TakeCompleted(&bytes, &frameStatus)) {
            if (renderedBuffers < buffers) queueRender();
        }
        while (capture.TakeCompleted(&bytes, &frameStatus)) {
            captured.insert(captured.end(), bytes.begin(), bytes.end());
            capture.Queue(std::vector<uint8_t>(bufferBytes, 0xEE), true);
        }
        if (!NT_SUCCESS(frameStatus)) {
            result.fault = "a stream frame failed";
            return result;
        }
    }
    render.Leave(KSSTATE_PAUSE);
    capture.Leave(KSSTATE_PAUSE);

    // Silence (the loop's delay and the transfers in flight), then the signal.
    std::vector<int32_t> samples;
    for (size_t i = 0; i + kBytesPerSample <= captured.size(); i += kBytesPerSample)
        samples.push_back(int32_t(uint32_t(captured[i]) << 8 | uint32_t(captured[i + 1]) << 16 |
                                  uint32_t(captured[i + 2]) << 24) >> 8);
    const auto start = std::find(samples.begin(), samples.end(), LoopbackSignal(0, 0));
    if (start == samples.end()) {
        result.fault = "the signal never came back";
        return result;
    }
    if (std::any_of(samples.begin(), start, [](int32_t s) { return s != 0; })) {
        result.fault = "something other than silence came before the signal";
        return result;
    }
    const uint64_t expected = uint64_t(buffers) * framesPerBuffer;
    if (uint64_t(samples.end() - start) / kChannels < expected) {
        result.fault = "less came back than was played";
        return result;
    }
    for (uint64_t f = 0; f < expected; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            if (start[ptrdiff_t(f * kChannels + c)] != LoopbackSignal(f, c)) {
                result.fault = "frame " + std::to_string(f) + " came back changed";
                return result;
            }
        }
    }
    result.framesChecked = expected;
    return result;
}
