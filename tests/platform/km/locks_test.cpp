#include "km/verifier.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kRounds = 20000;

TEST(SpinLock, AcquireRaisesToDispatchAndReleaseRestores)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    EXPECT_NE(lock, 0u);
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(lock, 0u);
}

TEST(SpinLock, ExcludesOtherThreads)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    long counter = 0;  // deliberately not atomic
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            long seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
            KeReleaseSpinLock(&lock, old);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 2L * kRounds);
}

TEST(SpinLock, AtDpcLevelVariantsWorkAtDispatch)
{
    kmsim::ExpectViolations violations;
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old = KeRaiseIrqlToDpcLevel();
    KeAcquireSpinLockAtDpcLevel(&lock);
    KeReleaseSpinLockFromDpcLevel(&lock);
    KeLowerIrql(old);
    EXPECT_TRUE(violations.Seen().empty());
}

TEST(SpinLock, AtDpcLevelAcquireBelowDispatchIsReported)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    kmsim::ExpectViolations violations;
    KeAcquireSpinLockAtDpcLevel(&lock);
    EXPECT_TRUE(violations.Saw("irql", "KeAcquireSpinLockAtDpcLevel"));
    KeReleaseSpinLockFromDpcLevel(&lock);
}

TEST(SpinLock, ReleaseOfALockNotHeldIsReported)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    kmsim::ExpectViolations violations;
    KIRQL old = KeRaiseIrqlToDpcLevel();
    KeReleaseSpinLockFromDpcLevel(&lock);
    KeLowerIrql(old);
    EXPECT_TRUE(violations.Saw("lock", "does not hold"));
}

TEST(SpinLock, RecursiveAcquireIsReportedInsteadOfHanging)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    {
        kmsim::ExpectViolations violations;
        KeAcquireSpinLockAtDpcLevel(&lock);
        EXPECT_TRUE(violations.Saw("lock", "recursive"));
    }
    KeReleaseSpinLock(&lock, old);
}

TEST(SpinLock, LoweringBelowDispatchWhileHoldingIsReported)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    {
        kmsim::ExpectViolations violations;
        KeLowerIrql(PASSIVE_LEVEL);
        EXPECT_TRUE(violations.Saw("irql", "while holding a spin lock"));
        KeRaiseIrql(DISPATCH_LEVEL, &old);
    }
    KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
}

TEST(CancelSpinLock, RaisesToDispatch)
{
    KIRQL old;
    IoAcquireCancelSpinLock(&old);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    IoReleaseCancelSpinLock(old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(FastMutex, AcquireRaisesToApcAndReleaseRestores)
{
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    ExAcquireFastMutex(&mutex);
    EXPECT_EQ(KeGetCurrentIrql(), APC_LEVEL);
    ExReleaseFastMutex(&mutex);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(FastMutex, ExcludesOtherThreadsWhileTheyBlock)
{
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < kRounds / 4; ++i) {
            ExAcquireFastMutex(&mutex);
            long seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
            ExReleaseFastMutex(&mutex);
        }
    };
    std::thread a(work), b(work);
    work();
    a.join();
    b.join();
    EXPECT_EQ(counter, 3L * (kRounds / 4));
    EXPECT_EQ(mutex.Count, 1);
}

TEST(FastMutex, TryToAcquireFailsWhileAnotherThreadHoldsIt)
{
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    ExAcquireFastMutex(&mutex);
    BOOLEAN acquiredElsewhere = TRUE;
    std::thread([&] { acquiredElsewhere = ExTryToAcquireFastMutex(&mutex); }).join();
    ExReleaseFastMutex(&mutex);
    EXPECT_FALSE(acquiredElsewhere);
    ASSERT_TRUE(ExTryToAcquireFastMutex(&mutex));
    EXPECT_EQ(KeGetCurrentIrql(), APC_LEVEL);
    ExReleaseFastMutex(&mutex);
}

TEST(FastMutex, AcquireAtDispatchIsReported)
{
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    KIRQL old = KeRaiseIrqlToDpcLevel();
    {
        kmsim::ExpectViolations violations;
        ExAcquireFastMutex(&mutex);
        EXPECT_TRUE(violations.Saw("irql", "ExAcquireFastMutex"));
        ExReleaseFastMutex(&mutex);
    }
    KeLowerIrql(old);
}

TEST(FastMutex, RecursiveAcquireIsReportedInsteadOfHanging)
{
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    ExAcquireFastMutex(&mutex);
    {
        kmsim::ExpectViolations violations;
        ExAcquireFastMutex(&mutex);
        EXPECT_TRUE(violations.Saw("lock", "recursive"));
    }
    ExReleaseFastMutex(&mutex);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(FastMutex, ReleaseByAThreadThatDoesNotHoldItIsReported)
{
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    ExAcquireFastMutex(&mutex);
    {
        kmsim::ExpectViolations violations;
        std::thread([&] { ExReleaseFastMutex(&mutex); }).join();
        EXPECT_TRUE(violations.Saw("lock", "does not hold"));
    }
    ExReleaseFastMutex(&mutex);
}

}  // namespace
