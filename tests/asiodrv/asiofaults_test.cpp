// Running out of memory at every allocation, in turn, of the ASIO driver's
// init, createBuffers and start: in the user-mode heap (its own objects) and
// in the kernel's pool (what its requests make the kernel driver allocate,
// in the same process). Each cell either works or fails with the driver's
// error, leaves no handle and no pool behind, and the host can then create
// the driver again and play.
#include "asiohost.h"

#include "um/umverifier.h"

#include <algorithm>
#include <iostream>
#include <string>

using namespace asiotest;

namespace {

enum class Step { Init, CreateBuffers, Start };
enum class Memory { Heap, Pool };

const char* StepName(Step step)
{
    switch (step) {
    case Step::Init: return "Init";
    case Step::CreateBuffers: return "CreateBuffers";
    case Step::Start: return "Start";
    }
    return "?";
}

// How many cells each row has: one more than the step allocates, so that
// the last cell of each row runs the step without a failure. The coverage
// test below keeps these in step with the driver.
uint64_t CellCount(Step step, Memory memory)
{
    constexpr uint64_t kCells[3][2] = {
        {50, 69},  // Init: heap, pool
        {15, 1},   // CreateBuffers
        {12, 11},  // Start
    };
    return kCells[int(step)][int(memory)];
}

constexpr LONG kPackets = 2;  // the driver's default number of packets in flight

struct FaultCell {
    Step step;
    Memory memory;
    uint64_t n;  // the allocation that fails, from 1
};

std::vector<FaultCell> AllCells()
{
    std::vector<FaultCell> cells;
    for (Step step : {Step::Init, Step::CreateBuffers, Step::Start}) {
        for (Memory memory : {Memory::Heap, Memory::Pool}) {
            for (uint64_t n = 1; n <= CellCount(step, memory); ++n) cells.push_back({step, memory, n});
        }
    }
    return cells;
}

void Arm(Memory memory, uint64_t n)
{
    if (memory == Memory::Heap) {
        umsim::FailNthHeapAllocation(n);
    } else {
        umtest::FailNthPoolAllocation(n);
    }
}

void Disarm()
{
    umsim::ClearHeapFaults();
    umtest::ClearPoolFaults();
}

uint64_t Injected(Memory memory)
{
    return memory == Memory::Heap ? umsim::InjectedHeapFailures() : umtest::InjectedPoolFailures();
}

class AsioAllocationFaults : public AsioTest, public testing::WithParamInterface<FaultCell> {
protected:
    void SetUp() override
    {
        AsioTest::SetUp();
        BootLoopback(umtest::kAudioMidiProduct, 3);
    }

    // Brings a created driver up to (not through) the step under test.
    void Prepare(IASIO* asio, Step step)
    {
        if (step == Step::Init) return;
        ASSERT_EQ(asio->init(NULL), ASIOTrue);
        LONG inputs = 0, outputs = 0, ignored = 0;
        ASSERT_EQ(asio->getChannels(&inputs, &outputs), ASE_OK);
        ASSERT_EQ(asio->getBufferSize(&ignored, &ignored, &m_bufferSize, &ignored), ASE_OK);
        for (LONG i = 0; i < inputs; ++i) m_infos.push_back({ASIOTrue, i, {}});
        for (LONG i = 0; i < outputs; ++i) m_infos.push_back({ASIOFalse, i, {}});
        if (step == Step::CreateBuffers) return;
        ASSERT_EQ(asio->createBuffers(m_infos.data(), LONG(m_infos.size()), m_bufferSize, HostCallbacks()), ASE_OK);
    }

    // Runs the step; true when it reported success.
    bool RunStep(IASIO* asio, Step step)
    {
        switch (step) {
        case Step::Init: {
            if (asio->init(NULL) == ASIOTrue) return true;
            char message[128] = {};
            asio->getErrorMessage(message);
            EXPECT_STRNE(message, "") << "init failed without telling the host why";
            return false;
        }
        case Step::CreateBuffers: {
            ASIOError error = asio->createBuffers(m_infos.data(), LONG(m_infos.size()), m_bufferSize, HostCallbacks());
            EXPECT_TRUE(error == ASE_OK || error == ASE_NoMemory) << error;
            return error == ASE_OK;
        }
        case Step::Start: {
            ASIOError error = asio->start();
            EXPECT_TRUE(error == ASE_OK || error == ASE_NoMemory || error == ASE_HWMalfunction) << error;
            return error == ASE_OK;
        }
        }
        return false;
    }

    std::vector<ASIOBufferInfo> m_infos;
    LONG m_bufferSize = 0;
};

TEST_P(AsioAllocationFaults, WorksOrFailsCleanlyAndTheHostPlaysAfterwards)
{
    const FaultCell cell = GetParam();
    const size_t handlesBefore = umsim::OpenHandleCount();
    const uint64_t poolBefore = umtest::PoolOutstandingBytes();
    // An existing settings key keeps init from opening the control panel.
    SetPref("NumKsPackets", kPackets);
    IASIO* asio = Create();
    Prepare(asio, cell.step);
    if (HasFatalFailure()) return;

    // A failed start stops the pins it ran up, which waits for the
    // transfers in flight: the device's clock runs, as it always does.
    if (cell.step == Step::Start) m_machine->StartClock(true);
    const uint64_t injectedBefore = Injected(cell.memory);
    Arm(cell.memory, cell.n);
    const bool worked = RunStep(asio, cell.step);
    if (worked && cell.step != Step::Init) {
        // The streaming thread's first requests belong to start, too: they
        // either stream or end the thread, which asks the host for a reset.
        m_machine->StartClock(true);
        if (cell.step == Step::Start) {
            EXPECT_TRUE(Log().WaitFor([] {
                return Log().switches.size() >= kPackets + 3 ||
                       std::count(Log().messages.begin(), Log().messages.end(), kAsioResetRequest) > 0;
            }));
        }
    }
    Disarm();
    const uint64_t injected = Injected(cell.memory) - injectedBefore;
    EXPECT_LE(injected, 1u);
    if (!worked) {
        EXPECT_EQ(injected, 1u) << "a failure without a failed allocation";
    }

    EXPECT_EQ(asio->stop(), ASE_OK);
    EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
    Log().disposed = true;
    m_machine->StopClock();
    ReleaseDriver();
    EXPECT_EQ(Log().lateCallbacks, 0);
    EXPECT_EQ(umsim::OpenHandleCount(), handlesBefore);
    EXPECT_EQ(umtest::PoolOutstandingBytes(), poolBefore) << umtest::PoolLeakReport();

    PlayAgain();
}

INSTANTIATE_TEST_SUITE_P(Cells, AsioAllocationFaults, testing::ValuesIn(AllCells()),
                         [](const testing::TestParamInfo<FaultCell>& info) {
                             return std::string(StepName(info.param.step)) +
                                    (info.param.memory == Memory::Heap ? "Heap" : "Pool") +
                                    std::to_string(info.param.n);
                         });

// Each row must reach past the step's last allocation, or the matrix would
// silently stop covering what the driver allocates.
class AsioAllocationCoverage : public AsioAllocationFaults {};

TEST_F(AsioAllocationCoverage, EveryRowHasACellPastTheStepsLastAllocation)
{
    for (Step step : {Step::Init, Step::CreateBuffers, Step::Start}) {
        SCOPED_TRACE(StepName(step));
        SetPref("NumKsPackets", kPackets);
        IASIO* asio = Create();
        m_infos.clear();
        Prepare(asio, step);
        ASSERT_FALSE(HasFatalFailure());

        // Pool allocations up to the last primed packet's requests: those of
        // the last switch's cycle are one packet's worth again.
        std::vector<uint64_t> poolAtSwitch;
        Log().work = [&](LONG) { poolAtSwitch.push_back(umtest::PoolAllocationCount()); };
        const uint64_t poolBefore = umtest::PoolAllocationCount();
        umsim::FailNthHeapAllocation(UINT64_MAX);
        EXPECT_TRUE(RunStep(asio, step));
        const uint64_t heap = umsim::HeapAllocationsSinceArmed();
        umsim::ClearHeapFaults();
        uint64_t pool = umtest::PoolAllocationCount() - poolBefore;
        if (step == Step::Start) {
            ASSERT_TRUE(Log().WaitFor([] { return Log().switches.size() >= kPackets; }));
            pool = poolAtSwitch[kPackets - 1] - poolBefore + (poolAtSwitch[kPackets - 1] - poolAtSwitch[kPackets - 2]);
        }
        std::cout << StepName(step) << ": " << heap << " heap and " << pool << " pool allocations\n";
        EXPECT_LT(heap, CellCount(step, Memory::Heap));
        EXPECT_LT(pool, CellCount(step, Memory::Pool));
        if (step != Step::CreateBuffers) {
            EXPECT_GT(pool, 0u) << "the kernel's allocations are not seen";
        }
        EXPECT_GT(heap, 0u) << "the driver's heap is not the one the faults reach";

        m_machine->StartClock(true);
        EXPECT_EQ(asio->stop(), ASE_OK);
        EXPECT_EQ(asio->disposeBuffers(), ASE_OK);
        m_machine->StopClock();
        Log().work = nullptr;
        ReleaseDriver();
        std::lock_guard lock(Log().mutex);
        Log().switches.clear();
    }
}

}  // namespace
