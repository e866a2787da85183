// The cable pulled with an audio or a MIDI pin in each KS state, while
// something is under way: nothing, a transfer the bus holds, stream
// requests queued, a state property blocked in the driver on a held
// transfer, an UrbSize change blocked there holding the device mutex, or a
// SysEx left open on a cable. The removal returns, every client request
// ends with a status, the device leaves no pool behind, and the same device
// plugged again serves.
#include "audiostream.h"
#include "devicesettingsclient.h"
#include "faultmatrix.h"

#include <optional>

namespace {

using namespace matrix;

enum class PinKind { Audio, Midi };
enum class Activity { Idle, TransferInFlight, StreamRequestQueued, PropertyInside, UrbSizeChange, SysExHeld };

struct Cell {
    PinKind pin;
    KSSTATE state;
    Activity activity;
};

const MidiClient::Bytes kSysExStart = {0xF0, 0x41, 0x10};

class SurpriseRemoval : public testing::TestWithParam<Cell> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_bed.Load(), STATUS_SUCCESS);
        m_level = DriverPoolBytes();
        ASSERT_EQ(m_bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
        m_device = DeviceContext(*m_filter);
        ASSERT_NE(m_device, nullptr);
        // Only the removal may end what the driver waits for.
        kmsim::SetTimeoutScale(3600);
    }
    void TearDown() override
    {
        if (m_inside.joinable()) m_inside.join();
    }

    // The pin under test, in the cell's state.
    void OpenPin()
    {
        const KSSTATE state = GetParam().state;
        if (GetParam().pin == PinKind::Audio) {
            m_audio.emplace(m_bed.Bus(), *m_filter, kRenderPin, RenderFormat());
            ASSERT_EQ(m_audio->Status(), STATUS_SUCCESS);
            if (state != KSSTATE_STOP) {
                ASSERT_EQ(m_audio->Pin().SetState(state), STATUS_SUCCESS);
            }
            return;
        }
        // A SysEx is written in RUN; the pins go to the cell's state after.
        const bool sysex = GetParam().activity == Activity::SysExHeld;
        m_out.emplace(*m_filter, kMidiOutPin, false, sysex ? KSSTATE_RUN : state);
        m_in.emplace(*m_filter, kMidiInPin, false, state);
        ASSERT_EQ(m_out->Status(), STATUS_SUCCESS);
        ASSERT_EQ(m_in->Status(), STATUS_SUCCESS);
        if (sysex) {
            ASSERT_EQ(m_out->Write(kSysExStart).request->Wait(), STATUS_SUCCESS);
            ASSERT_EQ(m_out->Pin().SetState(state), STATUS_SUCCESS);
        }
    }

    // A render client in RUN whose next transfer the bus holds: the pin
    // under test when it is an audio pin in RUN, another client otherwise.
    StreamClient& RunWithHeldTransfer()
    {
        m_bed.Usb().InjectFault({.action = usbsim::RequestFault::Action::NeverComplete,
                                 .nth = 1,
                                 .function = URB_FUNCTION_ISOCH_TRANSFER});
        StreamClient* runner = &*m_audio;
        if (GetParam().pin != PinKind::Audio || GetParam().state != KSSTATE_RUN) {
            // A filter instance has one render pin: the other client has its own.
            kmsim::KsClientHandle* filter = m_bed.OpenFilter();
            EXPECT_NE(filter, nullptr);
            m_runner.emplace(m_bed.Bus(), *filter, kRenderPin, RenderFormat());
            EXPECT_EQ(m_runner->Status(), STATUS_SUCCESS);
            runner = &*m_runner;
        }
        const ULONG before = m_bed.Usb().RequestCount(URB_FUNCTION_ISOCH_TRANSFER);
        EXPECT_EQ(runner->Run(), STATUS_SUCCESS);
        EXPECT_TRUE(StepUntil(m_bed, [&] { return m_bed.Usb().RequestCount(URB_FUNCTION_ISOCH_TRANSFER) > before; }));
        m_bed.Bus().Flush();
        EXPECT_EQ(m_bed.Bus().Transfers(m_bed.Usb(), kRenderEndpoint).pending, 2u);
        return *runner;
    }

    // Starts `call` on a thread of its own and returns once it is blocked in
    // the stream's stop, waiting for the transfer the bus holds.
    void BlockedInside(const std::function<void()>& call)
    {
        m_inside = std::thread([this, call] {
            call();
            m_returned = true;
        });
        AudioStream* stream = m_device->RenderStream(0);
        ASSERT_TRUE(StepUntil(m_bed, [&] { return !stream->IsRunning() || m_returned; }));
        ASSERT_FALSE(m_returned) << "the call did not wait for the held transfer";
        ASSERT_GT(stream->Outstanding(), 0);
    }

    void StartActivity()
    {
        const Cell cell = GetParam();
        switch (cell.activity) {
        case Activity::Idle:
        case Activity::SysExHeld:
            break;
        case Activity::TransferInFlight:
            if (cell.pin == PinKind::Audio) {
                RunWithHeldTransfer();
            } else {
                // The device takes nothing: the note's transfer stays out.
                m_bed.Hardware().MidiOut(kMidiOutPipe).SetAnswering(false);
                m_out->Write(kNoteOn);
                ASSERT_TRUE(StepUntil(m_bed, [&] {
                    return m_bed.Bus().Transfers(m_bed.Usb(), kMidiOutPipe).pending > 0;
                }));
            }
            break;
        case Activity::StreamRequestQueued:
            if (cell.pin == PinKind::Audio) {
                int32_t next = 1;
                for (int i = 0; i < 20; ++i) m_audio->Write(RampFrame(next));
                m_bed.Bus().StepFrames(15);
            } else {
                // Out of RUN a write waits in the queue; reads wait for input.
                if (cell.state != KSSTATE_RUN) m_out->Write(kNoteOn);
                for (int i = 0; i < 3; ++i) m_in->Read(40);
                m_bed.Bus().StepFrames(5);
            }
            m_bed.Bus().Flush();
            ASSERT_FALSE(cell.pin == PinKind::Audio ? m_audio->Frames().back().request->Done() : m_in->AllDone());
            break;
        case Activity::PropertyInside: {
            // KSPROPERTY_CONNECTION_STATE: leaving RUN waits for the stream's
            // transfers, one of which the bus holds.
            StreamClient& runner = RunWithHeldTransfer();
            BlockedInside([&runner] { runner.Pause(); });
            break;
        }
        case Activity::UrbSizeChange: {
            RunWithHeldTransfer();
            // The client's own handle: removal comes while the call is inside.
            auto interfaces = m_bed.Interfaces(KSCATEGORY_AUDIO);
            ASSERT_FALSE(interfaces.empty());
            ASSERT_EQ(kmsim::KsClientHandle::OpenFilter(interfaces.back().symbolicLink, &m_setter), STATUS_SUCCESS);
            BlockedInside([this] { SetUrbSize(m_setter.get(), 7); });
            break;
        }
        }
    }

    // Every request any client made has ended.
    void ExpectEveryRequestEnded()
    {
        for (auto* client : {&m_audio, &m_runner}) {
            if (!*client) continue;
            for (auto& frame : (*client)->Frames()) EXPECT_TRUE(frame.request->Done());
        }
        for (auto* client : {&m_out, &m_in}) {
            if (*client) {
                EXPECT_TRUE((*client)->AllDone());
            }
        }
    }

    // The system closed the pins the clients left open.
    void ForgetPins()
    {
        for (auto* client : {&m_audio, &m_runner})
            if (*client) (*client)->Pin().Abandon();
        for (auto* client : {&m_out, &m_in})
            if (*client) (*client)->Pin().Abandon();
        if (m_setter) m_setter->Abandon();
        m_audio.reset();
        m_runner.reset();
        m_out.reset();
        m_in.reset();
    }

    DriverTestBed m_bed;
    uint64_t m_level = 0;
    kmsim::KsClientHandle* m_filter = nullptr;
    UsbAudioDevice* m_device = nullptr;
    std::optional<StreamClient> m_audio;
    std::optional<StreamClient> m_runner;
    std::optional<MidiClient> m_out;
    std::optional<MidiClient> m_in;
    std::unique_ptr<kmsim::KsClientHandle> m_setter;  // the UrbSize client's filter
    std::thread m_inside;
    std::atomic<bool> m_returned{false};
};

TEST_P(SurpriseRemoval, NoHangNoLeakEveryRequestEndsAndTheDeviceServesAgain)
{
    OpenPin();
    ASSERT_FALSE(HasFatalFailure());
    StartActivity();
    ASSERT_FALSE(HasFatalFailure());

        ExpectReturns("the removal", [&] {
        m_bed.Bus().Unplug(m_bed.Usb());
        m_bed.Unplug();
    });
    // What was blocked inside ends with the cable.
    ExpectReturns("the call inside the driver", [&] {
        if (m_inside.joinable()) m_inside.join();
    });
    kmsim::SetTimeoutScale(1.0);
    ExpectEveryRequestEnded();
    ForgetPins();
    EXPECT_EQ(DriverPoolBytes(), m_level) << kmsim::PoolLeakReport();

    ASSERT_EQ(m_bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    kmsim::KsClientHandle* filter = m_bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    ExpectAudioServes(m_bed, *filter);
    ExpectMidiServes(m_bed, *filter);
}

std::string CellName(const testing::TestParamInfo<Cell>& info)
{
    static const char* const kStates[] = {"Stop", "Acquire", "Pause", "Run"};
    static const char* const kActivities[] = {"Idle",          "TransferInFlight", "StreamRequestQueued",
                                              "PropertyInside", "UrbSizeChange",    "SysExHeld"};
    return std::string(info.param.pin == PinKind::Audio ? "Audio_" : "Midi_") + kStates[info.param.state] + "_" +
           kActivities[int(info.param.activity)];
}

// Cells that cannot occur are left out: a transfer in flight needs a pin in
// RUN (a stream runs only then; a MIDI write goes out only then), a STOP
// pin refuses stream requests, and only a MIDI pin holds a SysEx.
std::vector<Cell> AllCells()
{
    std::vector<Cell> cells;
    for (PinKind pin : {PinKind::Audio, PinKind::Midi})
        for (KSSTATE state : {KSSTATE_STOP, KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN})
            for (Activity activity : {Activity::Idle, Activity::TransferInFlight, Activity::StreamRequestQueued,
                                      Activity::PropertyInside, Activity::UrbSizeChange, Activity::SysExHeld}) {
                if (activity == Activity::TransferInFlight && state != KSSTATE_RUN) continue;
                if (activity == Activity::StreamRequestQueued && state == KSSTATE_STOP) continue;
                if (activity == Activity::SysExHeld && pin == PinKind::Audio) continue;
                cells.push_back({pin, state, activity});
            }
    return cells;
}

INSTANTIATE_TEST_SUITE_P(Matrix, SurpriseRemoval, testing::ValuesIn(AllCells()), CellName);

}  // namespace
