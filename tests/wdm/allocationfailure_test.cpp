// Every pool allocation of a client's operation failed in turn, the first,
// then the second, and so on until the operation no longer reaches the
// failure: each time it either works or fails with an error status, leaves
// no pool behind once its client is gone, and the same operation done again
// without a fault works and moves data.
#include "devicesettingsclient.h"
#include "faultmatrix.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using namespace matrix;

enum class Operation {
    AudioPinCreate,      // a render pin at the device's rate
    AudioFormatChange,   // a render pin at another rate and width
    StreamStart,         // a render pin with audio queued entering RUN
    UrbSizeWhileStreaming,
    MidiOutPinCreate,
    MidiInPinCreate,
    MidiFirstWrite,
    MidiFirstRead,
};

struct Row {
    Operation operation;
    const char* name;
};

constexpr ULONG kStreamingUrbSize = 2;
constexpr ULONG kChangedUrbSize = 5;
// Frames a MIDI message takes from the device to a waiting read.
constexpr ULONG kMessageFrames = 5;

// One client doing one operation on a plugged device.
class Scene {
public:
    explicit Scene(DriverTestBed& bed, kmsim::KsClientHandle& filter, Operation operation)
        : m_bed(bed), m_filter(filter), m_operation(operation)
    {
    }
    ~Scene() { TearDown(); }

    // Brings the device to where the operation starts, with no fault.
    void Prepare()
    {
        switch (m_operation) {
        case Operation::AudioFormatChange:
            // The device runs at 48 kHz, from a pin that has come and gone.
            ASSERT_EQ(StreamClient(m_bed.Bus(), m_filter, kRenderPin, RenderFormat()).Status(), STATUS_SUCCESS);
            break;
        case Operation::StreamStart:
            m_audio.emplace(m_bed.Bus(), m_filter, kRenderPin, RenderFormat());
            ASSERT_EQ(m_audio->Status(), STATUS_SUCCESS);
            ASSERT_EQ(m_audio->Pause(), STATUS_SUCCESS);
            QueueAudio();
            break;
        case Operation::UrbSizeWhileStreaming:
            ASSERT_EQ(SetUrbSize(&m_filter, kStreamingUrbSize), STATUS_SUCCESS);
            m_audio.emplace(m_bed.Bus(), m_filter, kRenderPin, RenderFormat());
            ASSERT_EQ(m_audio->Status(), STATUS_SUCCESS);
            ASSERT_EQ(m_audio->Run(), STATUS_SUCCESS);
            break;
        case Operation::MidiFirstWrite:
            m_midi.emplace(m_filter, kMidiOutPin);
            ASSERT_EQ(m_midi->Status(), STATUS_SUCCESS);
            m_bed.Hardware().MidiOut(kMidiOutPipe).Clear();
            break;
        case Operation::MidiFirstRead:
            m_midi.emplace(m_filter, kMidiInPin);
            ASSERT_EQ(m_midi->Status(), STATUS_SUCCESS);
            break;
        default:
            break;
        }
    }

    NTSTATUS Operate()
    {
        switch (m_operation) {
        case Operation::AudioPinCreate:
            m_audio.emplace(m_bed.Bus(), m_filter, kRenderPin, RenderFormat());
            return m_audio->Status();
        case Operation::AudioFormatChange:
            m_audio.emplace(m_bed.Bus(), m_filter, kRenderPin, RenderFormat(44100, 16));
            return m_audio->Status();
        case Operation::StreamStart:
            return m_audio->Run();
        case Operation::UrbSizeWhileStreaming: {
            // The running stream drains as the clock goes on.
            m_bed.Bus().StartPacing(0);
            const NTSTATUS status = SetUrbSize(&m_filter, kChangedUrbSize);
            m_bed.Bus().StopPacing();
            return status;
        }
        case Operation::MidiOutPinCreate:
        case Operation::MidiInPinCreate:
            m_midi.emplace(m_filter, m_operation == Operation::MidiOutPinCreate ? kMidiOutPin : kMidiInPin);
            return m_midi->Status();
        case Operation::MidiFirstWrite:
            m_frame.data = MidiClient::EventFrame({kNoteOn});
            return Finish(IOCTL_KS_WRITE_STREAM);
        case Operation::MidiFirstRead:
            m_frame.data.assign(40, 0xEE);
            m_bed.Hardware().MidiIn(kMidiInPipe).Send(kNoteOn);
            return Finish(IOCTL_KS_READ_STREAM);
        }
        return STATUS_NOT_IMPLEMENTED;
    }

    // What a client sees of an operation that reported success.
    void ExpectWorked()
    {
        switch (m_operation) {
        case Operation::AudioPinCreate:
        case Operation::AudioFormatChange:
            ASSERT_EQ(m_audio->Pause(), STATUS_SUCCESS);
            QueueAudio();
            ASSERT_EQ(m_audio->Run(), STATUS_SUCCESS);
            ExpectAudioPlayed();
            break;
        case Operation::StreamStart:
            ExpectAudioPlayed();
            break;
        case Operation::UrbSizeWhileStreaming:
            EXPECT_EQ(GetUrbSize(&m_filter), kChangedUrbSize);
            QueueAudio();
            ExpectAudioPlayed();
            break;
        case Operation::MidiOutPinCreate:
        case Operation::MidiInPinCreate:
            // The pin was made and taken to RUN by the client: it serves.
            m_midi.reset();
            ExpectMidiServes(m_bed, m_filter);
            break;
        case Operation::MidiFirstWrite:
            // The frame is done once the port has the bytes; the wire follows.
            m_bed.Bus().StepFrames(kMessageFrames);
            m_bed.Bus().Flush();
            EXPECT_EQ(m_bed.Hardware().MidiOut(kMidiOutPipe).Messages(0), std::vector<MidiClient::Bytes>{kNoteOn});
            break;
        case Operation::MidiFirstRead: {
            KSMUSICFORMAT header;
            ASSERT_GE(m_frame.header.DataUsed, sizeof(header) + kNoteOn.size());
            std::memcpy(&header, m_frame.data.data(), sizeof(header));
            ASSERT_EQ(header.ByteCount, kNoteOn.size());
            EXPECT_TRUE(std::equal(kNoteOn.begin(), kNoteOn.end(), m_frame.data.begin() + sizeof(header)));
            break;
        }
        }
    }

    // The client goes: its pins stop and close, every request ended.
    void TearDown()
    {
        m_audio.reset();
        m_midi.reset();
        m_frame.request.reset();
    }

private:
    void QueueAudio()
    {
        m_audio->Write(std::vector<uint8_t>(kRenderFrameBytes, 0x11));
        m_audio->Write(std::vector<uint8_t>(kRenderFrameBytes, 0x22));
    }
    void ExpectAudioPlayed()
    {
        m_bed.Hardware().AudioOut(kRenderEndpoint).Clear();
        ASSERT_TRUE(StepUntil(m_bed, [&] { return m_audio->Frames().back().request->Done(); })) << "render stalled";
        for (auto& frame : m_audio->Frames()) EXPECT_EQ(frame.request->Wait(), STATUS_SUCCESS);
        // The last frame is in a transfer still on its way to the wire.
        m_bed.Bus().StepFrames(kTransferLag);
        size_t sounding = 0;
        for (int32_t sample : m_bed.Hardware().AudioOut(kRenderEndpoint).Samples()) sounding += sample != 0;
        EXPECT_GT(sounding, 0u) << "nothing reached the wire";
    }
    // The MIDI client's one frame submitted with `code`: its status once
    // the pin has finished it, or why it could not be submitted.
    NTSTATUS Finish(ULONG code)
    {
        const NTSTATUS submitted = SubmitStreamFrame(m_midi->Pin(), m_frame, code, code == IOCTL_KS_READ_STREAM);
        if (!NT_SUCCESS(submitted)) return submitted;
        if (code == IOCTL_KS_READ_STREAM) {
            // A message that arrives when the pin has no memory to queue it
            // is lost (as when no read is waiting and the queue is full);
            // the read waits for the next.
            m_bed.Bus().StepFrames(kMessageFrames);
            m_bed.Bus().Flush();
            if (!m_frame.request->Done()) m_bed.Hardware().MidiIn(kMidiInPipe).Send(kNoteOn);
        }
        if (!StepUntil(m_bed, [&] { return m_frame.request->Done(); })) return STATUS_PENDING;
        return m_frame.request->Wait();
    }

    DriverTestBed& m_bed;
    kmsim::KsClientHandle& m_filter;
    Operation m_operation;
    std::optional<StreamClient> m_audio;
    std::optional<MidiClient> m_midi;
    StreamFrame m_frame;  // the MIDI operation's
};

class AllocationFailure : public testing::TestWithParam<Row> {};

TEST_P(AllocationFailure, EveryAllocationFailedInTurnIsSurvived)
{
    const Operation operation = GetParam().operation;
    DriverTestBed bed;
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);

    // Done once without a fault: what the device holds afterwards is the
    // level every failed attempt must come back to.
    auto doUnfaulted = [&] {
        Scene scene(bed, *filter, operation);
        scene.Prepare();
        ASSERT_EQ(scene.Operate(), STATUS_SUCCESS);
        scene.ExpectWorked();
    };
    doUnfaulted();
    ASSERT_FALSE(HasFatalFailure());
    const uint64_t level = DriverPoolBytes();

    uint64_t failed = 0;
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        ASSERT_LT(n, 2000u) << "the operation never completed without a fault";
        bool injected = false;
        {
            Scene scene(bed, *filter, operation);
            scene.Prepare();
            ASSERT_FALSE(HasFatalFailure());
            const uint64_t before = kmsim::InjectedFailures();
            kmsim::FailNthAllocation(n);
            const NTSTATUS status = scene.Operate();
            kmsim::ClearPoolFaults();
            injected = kmsim::InjectedFailures() > before;
            ASSERT_NE(status, STATUS_PENDING) << "the operation never ended";
            if (NT_SUCCESS(status)) {
                scene.ExpectWorked();
            } else {
                EXPECT_TRUE(NT_ERROR(status)) << std::hex << status;
                EXPECT_TRUE(injected) << "failed without an injected fault: 0x" << std::hex << status;
            }
        }
        EXPECT_LE(DriverPoolBytes(), level) << kmsim::PoolLeakReport();
        if (!injected) break;
        ++failed;
        // The device serves the same operation again, and holds no more
        // than before once it is done.
        doUnfaulted();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(DriverPoolBytes(), level) << kmsim::PoolLeakReport();
    }
    RecordProperty("allocations_failed", std::to_string(failed));
    printf("[ %s: %llu allocations failed in turn ]\n", GetParam().name, (unsigned long long)failed);
}

INSTANTIATE_TEST_SUITE_P(Matrix, AllocationFailure,
                         testing::Values(Row{Operation::AudioPinCreate, "AudioPinCreate"},
                                         Row{Operation::AudioFormatChange, "AudioFormatChange"},
                                         Row{Operation::StreamStart, "StreamStart"},
                                         Row{Operation::UrbSizeWhileStreaming, "UrbSizeWhileStreaming"},
                                         Row{Operation::MidiOutPinCreate, "MidiOutPinCreate"},
                                         Row{Operation::MidiInPinCreate, "MidiInPinCreate"},
                                         Row{Operation::MidiFirstWrite, "MidiFirstWrite"},
                                         Row{Operation::MidiFirstRead, "MidiFirstRead"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
