// A fault at every request, in turn, of a stream start (a render pin with
// audio queued entering RUN) and of a MIDI endpoint start (power-up, then
// pins to RUN with a note written and one read): the request fails at once,
// fails after pending, never completes, stalls, or finds no bandwidth. Each
// time the start works or fails with an error status, no client request is
// left pending once its pin is closed, nothing hangs or leaks, and the
// device serves afterwards.
#include "faultmatrix.h"
#include "km/pnpmanager.h"

#include <optional>

namespace {

using namespace matrix;
using Action = usbsim::RequestFault::Action;

enum class Start { Audio, Midi };
enum class Fault { FailAtOnce, FailAfterPending, NeverComplete, Stall, NoBandwidth };

struct Cell {
    Start start;
    Fault fault;
};

// Frames a start gets to move its first data before it is taken as stopped.
constexpr ULONG kStartWindow = 100;

usbsim::RequestFault FaultAt(Fault fault, ULONG nth)
{
    auto failing = [nth](Action action, USBD_STATUS usbd) {
        return usbsim::RequestFault{.action = action,
                                    .nth = nth,
                                    .function = std::nullopt,
                                    .status = usbsim::NtStatusFromUsbd(usbd),
                                    .usbdStatus = usbd};
    };
    switch (fault) {
    case Fault::FailAtOnce: return failing(Action::Fail, USBD_STATUS_DEV_NOT_RESPONDING);
    case Fault::FailAfterPending: return failing(Action::FailAfterPending, USBD_STATUS_DEV_NOT_RESPONDING);
    case Fault::NeverComplete: return failing(Action::NeverComplete, USBD_STATUS_SUCCESS);
    case Fault::Stall: return failing(Action::Fail, USBD_STATUS_STALL_PID);
    case Fault::NoBandwidth: return failing(Action::Fail, USBD_STATUS_NO_BANDWIDTH);
    }
    return {};
}

class BusFault : public testing::TestWithParam<Cell> {
protected:
    void SetUp() override
    {
        // The driver's one-second waits for a request the bus holds.
        kmsim::SetTimeoutScale(0.1);
        ASSERT_EQ(m_bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
        m_filter = m_bed.OpenFilter();
        ASSERT_NE(m_filter, nullptr);
    }

    // Arms the fault, lets `start` run through its window and says whether
    // the fault was reached (the device saw at least nth requests).
    bool StartWithFault(ULONG nth, const std::function<void()>& start)
    {
        m_bed.Usb().ClearLog();
        m_bed.Usb().InjectFault(FaultAt(GetParam().fault, nth));
        start();
        m_bed.Usb().ClearFaults();
        const auto log = m_bed.Usb().Log();
        if (log.size() < nth) return false;
        m_faulted = log[nth - 1];
        return true;
    }

    // A render pin with two frames queued enters RUN: RUN fails with an
    // error, or the stream plays them, or it stopped itself on the fault and
    // they end when the client stops the pin.
    bool AudioStart(ULONG nth)
    {
        std::optional<StreamClient> render;
        render.emplace(m_bed.Bus(), *m_filter, kRenderPin, RenderFormat());
        EXPECT_EQ(render->Status(), STATUS_SUCCESS);
        EXPECT_EQ(render->Pause(), STATUS_SUCCESS);
        int32_t next = 1;
        render->Write(RampFrame(next));
        render->Write(RampFrame(next));
        NTSTATUS run = STATUS_SUCCESS;
        const bool reached = StartWithFault(nth, [&] {
            run = render->Run();
            for (ULONG f = 0; f < kStartWindow && !render->Frames().back().request->Done(); ++f)
                m_bed.Bus().StepFrames(1);
        });
        EXPECT_TRUE(NT_SUCCESS(run) || NT_ERROR(run)) << std::hex << run;
        if (!reached) {
            EXPECT_EQ(run, STATUS_SUCCESS);
        }
        ExpectReturns("closing the render pin", [&] { render.reset(); });
        return reached;
    }

    // Power-up restarts the MIDI endpoints; then pins enter RUN, a note goes
    // out and one comes in. Each request ends with a status by the time its
    // pin is closed; one that reports success did its work.
    bool MidiStart(ULONG nth)
    {
        EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
        m_bed.Hardware().MidiOut(kMidiOutPipe).Clear();
        std::optional<MidiClient> out;
        std::optional<MidiClient> in;
        const bool reached = StartWithFault(nth, [&] {
            ExpectReturns("power-up", [&] {
                EXPECT_EQ(kmsim::SetDevicePowerState(m_bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);
            });
            out.emplace(*m_filter, kMidiOutPin);
            in.emplace(*m_filter, kMidiInPin);
            EXPECT_EQ(out->Status(), STATUS_SUCCESS);
            EXPECT_EQ(in->Status(), STATUS_SUCCESS);
            out->Write(kNoteOn);
            in->Read(40);
            m_bed.Hardware().MidiIn(kMidiInPipe).Send(kNoteOn);
            for (ULONG f = 0; f < kStartWindow && !(out->AllDone() && in->AllDone()); ++f) {
                m_bed.Bus().StepFrames(1);
                std::this_thread::yield();
            }
            m_bed.Bus().Flush();
        });
        const NTSTATUS written = out->Frames().back().request->Done() ? out->Frames().back().request->Wait()
                                                                       : STATUS_PENDING;
        // A write is done once the port has its bytes; a transfer that then
        // fails on the bus loses them, as the wire would.
        const bool lostOnTheWire = reached && m_faulted.endpointAddress == kMidiOutPipe;
        if (written == STATUS_SUCCESS && !lostOnTheWire) {
            EXPECT_EQ(m_bed.Hardware().MidiOut(kMidiOutPipe).Messages(0), std::vector<MidiClient::Bytes>{kNoteOn});
        }
        if (!reached) {
            EXPECT_EQ(written, STATUS_SUCCESS);
            EXPECT_TRUE(in->AllDone());
        }
        ExpectReturns("closing the MIDI pins", [&] {
            out.reset();
            in.reset();
        });
        return reached;
    }

    DriverTestBed m_bed;
    kmsim::KsClientHandle* m_filter = nullptr;
    usbsim::UrbRecord m_faulted;  // the request the fault hit
};

TEST_P(BusFault, EveryRequestOfTheStartFailedInTurnIsSurvived)
{
    const Start start = GetParam().start;
    auto serves = [&] {
        if (start == Start::Audio)
            ExpectAudioServes(m_bed, *m_filter);
        else
            ExpectMidiServes(m_bed, *m_filter);
    };
    serves();
    ASSERT_FALSE(HasFatalFailure());
    const uint64_t level = DriverPoolBytes();

    ULONG faulted = 0;
    for (ULONG nth = 1;; ++nth) {
        SCOPED_TRACE("fault at request " + std::to_string(nth));
        ASSERT_LT(nth, 500u) << "the start never ran without reaching the fault";
        const bool reached = start == Start::Audio ? AudioStart(nth) : MidiStart(nth);
        ASSERT_FALSE(HasFatalFailure());
        m_bed.Bus().Flush();
        EXPECT_LE(DriverPoolBytes(), level) << kmsim::PoolLeakReport();
        if (!reached) break;
        ++faulted;
        serves();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(DriverPoolBytes(), level) << kmsim::PoolLeakReport();
    }
    RecordProperty("requests_faulted", std::to_string(faulted));
    printf("[ %lu requests faulted in turn ]\n", (unsigned long)faulted);
}

std::string CellName(const testing::TestParamInfo<Cell>& info)
{
    static const char* const kFaults[] = {"FailAtOnce", "FailAfterPending", "NeverComplete", "Stall", "NoBandwidth"};
    return std::string(info.param.start == Start::Audio ? "StreamStart_" : "MidiEndpointStart_") +
           kFaults[int(info.param.fault)];
}

std::vector<Cell> AllCells()
{
    std::vector<Cell> cells;
    for (Start start : {Start::Audio, Start::Midi})
        for (Fault fault : {Fault::FailAtOnce, Fault::FailAfterPending, Fault::NeverComplete, Fault::Stall,
                            Fault::NoBandwidth})
            cells.push_back({start, fault});
    return cells;
}

INSTANTIATE_TEST_SUITE_P(Matrix, BusFault, testing::ValuesIn(AllCells()), CellName);

}  // namespace
