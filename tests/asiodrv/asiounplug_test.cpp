// Pulling the device's cable while the ASIO driver is in each of its
// states: every call the host makes afterwards returns, the host hears
// nothing once its buffers are disposed, nothing is left open, and the next
// plug of the same device plays again.
#include "asiohost.h"

#include "resource.h"

#include "um/umverifier.h"

#include <thread>

using namespace asiotest;

namespace {

enum class Moment {
    IdleAfterCreateBuffers,
    Running,
    SwitchInProgress,  // the host's bufferSwitch has not returned yet
    ControlPanelOpen,
};

const char* MomentName(Moment moment)
{
    switch (moment) {
    case Moment::IdleAfterCreateBuffers: return "IdleAfterCreateBuffers";
    case Moment::Running: return "Running";
    case Moment::SwitchInProgress: return "SwitchInProgress";
    case Moment::ControlPanelOpen: return "ControlPanelOpen";
    }
    return "?";
}

bool IsAsioError(ASIOError error)
{
    return error == ASE_OK || error == ASE_NotPresent || error == ASE_HWMalfunction || error == ASE_InvalidMode ||
           error == ASE_NoMemory || error == ASE_InvalidParameter;
}

// A WaitFor condition (the log is locked).
bool ResetRequested()
{
    return std::count(Log().messages.begin(), Log().messages.end(), kAsioResetRequest) > 0;
}

class AsioSurpriseRemoval : public AsioTest, public testing::WithParamInterface<Moment> {
protected:
    // Pulls the cable on a thread of its own: the removal completes only
    // once the driver has closed its handles. Returns once the device's
    // interfaces are gone, so whatever the host does next meets a removed
    // device.
    void PullCable()
    {
        m_unplug = std::thread([this] { EXPECT_TRUE(m_machine->Unplug(m_slot)); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!umtest::AudioInterfacePaths().empty()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the removal never took the interfaces away";
            std::this_thread::yield();
        }
    }

    void TearDown() override
    {
        if (m_unplug.joinable()) m_unplug.join();
        AsioTest::TearDown();
    }

    std::thread m_unplug;
};

TEST_P(AsioSurpriseRemoval, EveryCallReturnsNothingComesAfterDisposalAndTheNextPlugPlays)
{
    const Moment moment = GetParam();
    BootLoopback(umtest::kAudioMidiProduct, 3);
    const size_t handlesBefore = umsim::OpenHandleCount();
    IASIO* asio = CreateAndInit();
    std::vector<ASIOBufferInfo> infos;
    LONG bufferSize = 0, inputs = 0, outputs = 0, ignored = 0;
    ASSERT_EQ(asio->getChannels(&inputs, &outputs), ASE_OK);
    ASSERT_EQ(asio->getBufferSize(&ignored, &ignored, &bufferSize, &ignored), ASE_OK);
    for (LONG i = 0; i < inputs; ++i) infos.push_back({ASIOTrue, i, {}});
    for (LONG i = 0; i < outputs; ++i) infos.push_back({ASIOFalse, i, {}});
    ASSERT_EQ(asio->createBuffers(infos.data(), LONG(infos.size()), bufferSize, HostCallbacks()), ASE_OK);
    m_machine->StartClock(true);

    switch (moment) {
    case Moment::IdleAfterCreateBuffers:
        PullCable();
        EXPECT_TRUE(IsAsioError(asio->start()));
        break;
    case Moment::Running:
        ASSERT_EQ(asio->start(), ASE_OK);
        ASSERT_TRUE(Log().WaitFor([] { return Log().switches.size() >= 4; }));
        PullCable();
        // The streaming thread's requests fail: it ends and asks for a reset.
        EXPECT_TRUE(Log().WaitFor(ResetRequested));
        break;
    case Moment::SwitchInProgress: {
        // The host holds the fourth switch until the cable is out.
        std::mutex mutex;
        std::condition_variable changed;
        bool inside = false, go = false;
        int seen = 0;
        Log().work = [&](LONG) {
            std::unique_lock lock(mutex);
            if (++seen != 4) return;
            inside = true;
            changed.notify_all();
            changed.wait(lock, [&] { return go; });
        };
        ASSERT_EQ(asio->start(), ASE_OK);
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return inside; }));
        }
        PullCable();
        {
            std::lock_guard lock(mutex);
            go = true;
        }
        changed.notify_all();
        EXPECT_TRUE(Log().WaitFor(ResetRequested));
        break;
    }
    case Moment::ControlPanelOpen: {
        // The user changes the buffer length and presses OK after the
        // device has gone: the driver re-opens nothing that is not there.
        bool scripted = false;
        umsim::OnDialog(IDD_CONTROLPANEL, [&](umsim::Dialog& panel) {
            scripted = true;
            PullCable();
            panel.MoveTrackbar(IDC_BUFFERLENGTH, 5);
            panel.Press(IDOK);
        });
        EXPECT_TRUE(IsAsioError(asio->controlPanel()));
        EXPECT_TRUE(scripted);
        EXPECT_TRUE(IsAsioError(asio->start()));
        break;
    }
    }

    // What a host does when the device has gone: every call returns.
    ASIOSamples position{};
    ASIOTimeStamp time{};
    EXPECT_TRUE(IsAsioError(asio->getSamplePosition(&position, &time)));
    EXPECT_TRUE(IsAsioError(asio->getLatencies(&ignored, &ignored)));
    EXPECT_EQ(asio->stop(), ASE_OK);
    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
    Log().disposed = true;
    ReleaseDriver();
    m_unplug.join();
    m_machine->StopClock();
    EXPECT_EQ(Log().lateCallbacks, 0) << "the host was called after disposeBuffers";
    Log().work = nullptr;
    // The device's own pool went with it; the test's end checks the rest.
    EXPECT_EQ(umsim::OpenHandleCount(), handlesBefore);

    m_slot = m_machine->Plug(umtest::NewLoopbackDevice(umtest::kAudioMidiProduct, 3));
    ASSERT_GE(m_slot, 0);
    PlayAgain();
}

INSTANTIATE_TEST_SUITE_P(Moments, AsioSurpriseRemoval,
                         testing::Values(Moment::IdleAfterCreateBuffers, Moment::Running, Moment::SwitchInProgress,
                                         Moment::ControlPanelOpen),
                         [](const testing::TestParamInfo<Moment>& info) { return MomentName(info.param); });

}  // namespace
