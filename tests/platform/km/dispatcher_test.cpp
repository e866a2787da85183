#include "km/verifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Relative time-outs are negative, in 100 ns.
LARGE_INTEGER Relative(LONGLONG milliseconds)
{
    LARGE_INTEGER t;
    t.QuadPart = -milliseconds * 10000;
    return t;
}

class ScaledTimeouts : public testing::Test {
protected:
    void SetUp() override { kmsim::SetTimeoutScale(0.0001); }
    void TearDown() override { kmsim::SetTimeoutScale(1.0); }
};

TEST(Event, InitialStateAndSetClearReset)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    KeClearEvent(&event);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 0);
    EXPECT_EQ(KeSetEvent(&event, IO_NO_INCREMENT, FALSE), 1);
    EXPECT_EQ(KeResetEvent(&event), 1);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST(Event, NotificationEventStaysSignalledForEveryWaiter)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
}

TEST(Event, SynchronizationEventResetsWhenAWaitIsSatisfied)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, TRUE);
    LARGE_INTEGER poll{};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
}

TEST(Event, ZeroTimeoutPollsWithoutWaiting)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER poll{};
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
}

TEST_F(ScaledTimeouts, RelativeTimeoutExpiresWhenUnsignalled)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    // Ten minutes at a scale of 1/10000 ends in 60 ms.
    LARGE_INTEGER tenMinutes = Relative(10 * 60 * 1000);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &tenMinutes), STATUS_TIMEOUT);
}

TEST_F(ScaledTimeouts, SignalBeforeTheTimeoutEndsTheWait)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::thread setter([&] { KeSetEvent(&event, IO_NO_INCREMENT, FALSE); });
    // An hour scaled is 360 ms: far longer than the setter needs.
    LARGE_INTEGER hour = Relative(60 * 60 * 1000);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &hour), STATUS_SUCCESS);
    setter.join();
}

TEST(Event, SynchronizationEventReleasesOneWaiterPerSet)
{
    KEVENT event, done;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
            ++released;
            KeSetEvent(&done, IO_NO_INCREMENT, FALSE);
        });
    }
    for (int i = 1; i <= 3; ++i) {
        KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        EXPECT_EQ(released.load(), i);
    }
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(KeReadStateEvent(&event), 0);
}

TEST(Event, NotificationSetReleasesEveryCurrentWaiterEvenIfClearedAtOnce)
{
    KEVENT event, arrived;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    KeInitializeEvent(&arrived, SynchronizationEvent, FALSE);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
            ++released;
        });
    }
    // Pulse until all four were waiting at a pulse; each pulse releases every
    // thread blocked at that moment.
    while (released.load() < 4) {
        KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
        KeClearEvent(&event);
        std::this_thread::yield();
    }
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(released.load(), 4);
}

TEST(Event, WaitAtDispatchLevelIsReportedUnlessItPolls)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    KIRQL old = KeRaiseIrqlToDpcLevel();
    {
        kmsim::ExpectViolations violations;
        LARGE_INTEGER poll{};
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll);
        EXPECT_TRUE(violations.Seen().empty());
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        EXPECT_TRUE(violations.Saw("irql", "without a time-out"));
        LARGE_INTEGER second = Relative(1000);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &second);
        EXPECT_TRUE(violations.Saw("irql", "non-zero time-out"));
    }
    KeLowerIrql(old);
}

TEST(Event, WaitOnUninitialisedMemoryIsReported)
{
    KEVENT event;
    memset(&event, 0xA5, sizeof event);
    kmsim::ExpectViolations violations;
    EXPECT_NE(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_TRUE(violations.Saw("object", "not an initialised event"));
}

TEST_F(ScaledTimeouts, DelayExecutionReturnsAfterTheScaledInterval)
{
    LARGE_INTEGER minute = Relative(60 * 1000);
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &minute), STATUS_SUCCESS);
}

TEST(Time, SystemTimeCountsFrom1601)
{
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    // 2020-01-01 and 2200-01-01 in 100-ns units since 1601.
    EXPECT_GT(now.QuadPart, 132223104000000000LL);
    EXPECT_LT(now.QuadPart, 189028224000000000LL);
}

TEST(Time, InterruptTimeNeverGoesBackwards)
{
    ULONGLONG first = KeQueryInterruptTime();
    ULONGLONG second = KeQueryInterruptTime();
    EXPECT_LE(first, second);
}

TEST(Time, TimeoutScaleIsAdjustable)
{
    kmsim::SetTimeoutScale(0.5);
    EXPECT_DOUBLE_EQ(kmsim::TimeoutScale(), 0.5);
    kmsim::SetTimeoutScale(1.0);
    EXPECT_DOUBLE_EQ(kmsim::TimeoutScale(), 1.0);
}

}  // namespace
