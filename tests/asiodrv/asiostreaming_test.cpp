// Streaming through the driver: the packet ring's priming, a whole session
// on the loopback device, a device that stops completing, unplugging.
#include "asiohost.h"

#include "um/umverifier.h"

#include <algorithm>
#include <mutex>
#include <thread>

using namespace asiotest;

namespace {

class AsioStreaming : public AsioTest {
protected:
    // Stopping lets the streaming thread finish its packet, which needs the clock.
    void StopWithClock(IASIO* asio)
    {
        m_machine->StartClock(true);
        EXPECT_EQ(asio->stop(), ASE_OK);
        m_machine->StopClock();
    }
};

// 24-bit samples that never repeat within a test and are never silent.
uint32_t Signal(uint32_t n) { return n % 0x7FFFFE + 1; }

}  // namespace

TEST_F(AsioStreaming, PrimingGivesTwoSwitchesAtOnceWithThePositionAlreadyAdvanced)
{
    BootLoopback(umtest::kAudioMidiProduct, 3);
    IASIO* asio = CreateAndInit();
    std::vector<ASIOBufferInfo> infos;
    LONG bufferSize = 0;
    StartAllChannels(asio, infos, bufferSize);
    // The bus clock stands still: nothing has completed.
    ASSERT_TRUE(Log().WaitFor([] { return Log().switches.size() >= 2; }));
    {
        std::lock_guard lock(Log().mutex);
        EXPECT_EQ(Log().switches[0], 0);
        EXPECT_EQ(Log().switches[1], 1);
        EXPECT_EQ(Log().positions[0], (unsigned long long)bufferSize);
        EXPECT_EQ(Log().positions[1], 2ull * bufferSize);
        EXPECT_EQ(Log().systemTimes[0] % 1000000, 0u) << "whole milliseconds in nanoseconds";
    }
    StopWithClock(asio);
    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
}

TEST_F(AsioStreaming, SessionPlaysAndRecordsSampleExactThenLeavesNothingBehind)
{
    BootLoopback(umtest::kAudioMidiProduct, 3);
    SetUrbSizeAsAnotherClient(10);
    const size_t handlesBefore = umsim::OpenHandleCount();
    Log().supportsTimeInfo = true;
    SetPref("NumKsPackets", 3);
    IASIO* asio = CreateAndInit();
    std::vector<ASIOBufferInfo> infos;
    LONG bufferSize = 0;
    std::vector<uint32_t> played, recorded;
    uint32_t next = 0;
    // The bus clock advances one buffer inside each switch after the three
    // primed ones, while the other two packets are queued: the driver is
    // never late, whatever the machine's load, and ten seconds of bus time
    // are a thousand switches.
    constexpr size_t kPrimed = 3, kSwitches = 1000;
    std::mutex clock;
    size_t seen = 0;
    bool takenOver = false;
    // Host work on the streaming thread: record inputs 0 and 1, play a
    // counting signal on outputs 0 and 1 (the device loops those back).
    Log().work = [&](LONG index) {
        auto sample = [](const void* buffer, LONG i) {
            const uint8_t* p = static_cast<const uint8_t*>(buffer) + 3 * i;
            return uint32_t(p[0] | p[1] << 8 | p[2] << 16);
        };
        for (LONG i = 0; i < bufferSize; ++i) {
            for (size_t c = 0; c < 2; ++c) recorded.push_back(sample(infos[c].buffers[index], i));
        }
        for (LONG i = 0; i < bufferSize; ++i) {
            for (size_t c = 0; c < 2; ++c) {
                uint32_t value = Signal(next++);
                played.push_back(value);
                uint8_t* p = static_cast<uint8_t*>(infos[2 + c].buffers[index]) + 3 * i;
                p[0] = uint8_t(value);
                p[1] = uint8_t(value >> 8);
                p[2] = uint8_t(value >> 16);
            }
        }
        std::lock_guard lock(clock);
        if (seen++ >= kPrimed && seen <= kPrimed + kSwitches) {
            takenOver = true;
            m_machine->StepFrames(10);
        }
    };
    StartAllChannels(asio, infos, bufferSize);
    ASSERT_EQ(bufferSize, 480);
    ASSERT_TRUE(Log().WaitFor([&] { return Log().switches.size() >= kPrimed; }));
    // Up to the first completed packet (two buffers in) the test moves the
    // clock, but never past the 30 ms that are queued, however long the
    // streaming thread takes to wake.
    for (int frame = 0; frame < 25; ++frame) {
        std::lock_guard lock(clock);
        if (takenOver) break;
        m_machine->StepFrames(1);
    }
    ASSERT_TRUE(Log().WaitFor([&] { return Log().switches.size() >= kPrimed + kSwitches; }));
    m_machine->StartClock(true);
    EXPECT_EQ(asio->stop(), ASE_OK);
    m_machine->StopClock();
    Log().work = nullptr;

    {
        std::lock_guard lock(Log().mutex);
        for (size_t i = 0; i < Log().positions.size(); ++i) {
            ASSERT_EQ(Log().positions[i], (i + 1) * (unsigned long long)bufferSize) << "switch " << i;
            ASSERT_EQ(Log().switches[i], LONG(i % 2)) << "switch " << i;
        }
    }
    // The recording starts with the loop's silence, and the kernel driver
    // may take up the streams within the primed buffers. From the first
    // sample that came back on, everything must match.
    auto start = std::find_if(recorded.begin(), recorded.end(), [](uint32_t v) { return v != 0; });
    ASSERT_NE(start, recorded.end()) << "nothing played came back in " << recorded.size() << " samples";
    const size_t first = *start - 1;  // Signal(n) is n + 1 this early
    ASSERT_LT(first, kPrimed * 2 * size_t(bufferSize)) << "played buffers were lost after the primed ones";
    const size_t compared = size_t(recorded.end() - start);
    ASSERT_GT(compared, played.size() / 2);
    auto mismatch = std::mismatch(start, recorded.end(), played.begin() + first);
    EXPECT_EQ(mismatch.first, recorded.end())
        << "the loopback is not sample-exact from sample " << (mismatch.second - played.begin()) << " of "
        << compared << ": got " << *mismatch.first << ", played " << *mismatch.second;

    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
    m_asio->Release();
    m_asio = nullptr;
    CurrentDriver() = nullptr;
    EXPECT_EQ(umsim::OpenHandleCount(), handlesBefore);
    auto canUnloadNow =
        reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(m_module, "DllCanUnloadNow")));
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(AsioStreaming, DeviceThatStopsCompletingEndsTheThreadAndStartRestartsIt)
{
    BootLoopback(umtest::kAudioMidiProduct, 3);
    ModuleTrace trace(1);
    IASIO* asio = CreateAndInit();
    std::vector<ASIOBufferInfo> infos;
    LONG bufferSize = 0;
    StartAllChannels(asio, infos, bufferSize);
    // With the clock stopped nothing completes after the two primed packets.
    ASSERT_TRUE(trace.WaitFor("packet.WaitForCompletion() TIMED OUT! :-S"));
    // The thread's shut-down stops the pins, which waits for the transfers
    // in flight: the clock runs from here on.
    m_machine->StartClock(true);
    EXPECT_EQ(asio->stop(), ASE_OK);

    // A new start streams again, on a new thread.
    EXPECT_EQ(asio->start(), ASE_OK);
    EXPECT_TRUE(Log().WaitFor([] { return Log().switches.size() >= 6; })) << Log().switches.size();
    EXPECT_EQ(asio->stop(), ASE_OK);
    m_machine->StopClock();
}

TEST_F(AsioStreaming, UnplugEndsTheThreadAndAResetAfterReplugStreamsAgain)
{
    BootLoopback(umtest::kAudioMidiProduct, 3);
    ModuleTrace trace(1);
    IASIO* asio = CreateAndInit();
    std::vector<ASIOBufferInfo> infos;
    LONG bufferSize = 0;
    m_machine->StartClock(true);
    StartAllChannels(asio, infos, bufferSize);
    ASSERT_TRUE(Log().WaitFor([] { return Log().switches.size() >= 4; }));
    // The removal completes once the driver has let go of the device, as a
    // host does when its requests fail.
    std::thread unplug([&] { m_machine->Unplug(m_slot); });
    EXPECT_TRUE(trace.WaitFor("packet.in.Read() failed - code -2147467259"));
    EXPECT_EQ(asio->stop(), ASE_OK);
    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
    m_asio->Release();
    m_asio = nullptr;
    unplug.join();

    // What a host does on a reset request: release, create again, start.
    m_slot = m_machine->Plug(umtest::NewLoopbackDevice(umtest::kAudioMidiProduct, 3));
    {
        std::lock_guard lock(Log().mutex);
        Log().switches.clear();
    }
    asio = CreateAndInit();
    StartAllChannels(asio, infos, bufferSize);
    EXPECT_TRUE(Log().WaitFor([] { return Log().switches.size() >= 4; }));
    EXPECT_EQ(asio->stop(), ASE_OK);
    m_machine->StopClock();
}
