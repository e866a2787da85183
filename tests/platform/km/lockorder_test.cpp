#include "km/verifier.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class LockOrder : public testing::Test {
protected:
    void SetUp() override { kmsim::ResetLockOrder(); }
};

void TakeInOrder(PKSPIN_LOCK first, PKSPIN_LOCK second)
{
    KIRQL old;
    KeAcquireSpinLock(first, &old);
    KeAcquireSpinLockAtDpcLevel(second);
    KeReleaseSpinLockFromDpcLevel(second);
    KeReleaseSpinLock(first, old);
}

TEST_F(LockOrder, InversionAcrossTwoThreadsIsReportedNamingBothLocks)
{
    KSPIN_LOCK a, b;
    KeInitializeSpinLock(&a);
    KeInitializeSpinLock(&b);
    std::thread([&] { TakeInOrder(&a, &b); }).join();
    kmsim::ExpectViolations violations;
    std::thread([&] { TakeInOrder(&b, &a); }).join();
    ASSERT_EQ(violations.Count("lock-order"), 1u);
    std::string message = violations.Seen()[0].message;
    char aText[32], bText[32];
    snprintf(aText, sizeof aText, "%#llx", (unsigned long long)(uintptr_t)&a);
    snprintf(bText, sizeof bText, "%#llx", (unsigned long long)(uintptr_t)&b);
    EXPECT_NE(message.find(aText), std::string::npos) << message;
    EXPECT_NE(message.find(bText), std::string::npos) << message;
}

TEST_F(LockOrder, ConsistentOrderIsSilent)
{
    kmsim::ExpectViolations violations;
    KSPIN_LOCK a, b;
    KeInitializeSpinLock(&a);
    KeInitializeSpinLock(&b);
    TakeInOrder(&a, &b);
    std::thread([&] { TakeInOrder(&a, &b); }).join();
    EXPECT_TRUE(violations.Seen().empty());
}

TEST_F(LockOrder, InversionThroughAThirdLockIsReported)
{
    KSPIN_LOCK a, b, c;
    KeInitializeSpinLock(&a);
    KeInitializeSpinLock(&b);
    KeInitializeSpinLock(&c);
    TakeInOrder(&a, &b);
    TakeInOrder(&b, &c);
    kmsim::ExpectViolations violations;
    TakeInOrder(&c, &a);
    EXPECT_EQ(violations.Count("lock-order"), 1u);
}

TEST_F(LockOrder, FastMutexThenSpinLockInvertedIsReported)
{
    FAST_MUTEX mutex;
    KSPIN_LOCK lock;
    ExInitializeFastMutex(&mutex);
    KeInitializeSpinLock(&lock);
    ExAcquireFastMutex(&mutex);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    KeReleaseSpinLock(&lock, old);
    ExReleaseFastMutex(&mutex);

    kmsim::ExpectViolations violations;
    // Taking the mutex under the spin lock is wrong twice over: the level and
    // the order.
    ExAcquireFastMutex(&mutex);
    KeAcquireSpinLock(&lock, &old);
    KeReleaseSpinLock(&lock, old);
    ExReleaseFastMutex(&mutex);
    EXPECT_EQ(violations.Count("lock-order"), 0u);

    KeAcquireSpinLock(&lock, &old);
    KeLowerIrql(PASSIVE_LEVEL);  // only to reach the mutex; reported too
    ExAcquireFastMutex(&mutex);
    EXPECT_TRUE(violations.Saw("lock-order", "fast mutex"));
    ExReleaseFastMutex(&mutex);
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
}

TEST_F(LockOrder, FreeingTheLocksMemoryForgetsItsOrder)
{
    constexpr ULONG kTag = kmsim::MakeTag('T', 'l', 'o', 'k');
    auto first = static_cast<PKSPIN_LOCK>(ExAllocatePoolWithTag(NonPagedPool, sizeof(KSPIN_LOCK), kTag));
    KSPIN_LOCK other;
    KeInitializeSpinLock(first);
    KeInitializeSpinLock(&other);
    TakeInOrder(first, &other);
    ExFreePool(first);

    // Whatever lands at that address later is a new lock. Its memory is not
    // re-initialised through KeInitializeSpinLock here on purpose: the free
    // alone must be enough.
    auto reused = static_cast<PKSPIN_LOCK>(ExAllocatePoolWithTag(NonPagedPool, sizeof(KSPIN_LOCK), kTag));
    *reused = 0;
    kmsim::ExpectViolations violations;
    TakeInOrder(&other, reused);
    EXPECT_EQ(violations.Count("lock-order"), 0u);
    ExFreePool(reused);
}

TEST_F(LockOrder, ReinitialisingALockForgetsItsOrder)
{
    KSPIN_LOCK a, b;
    KeInitializeSpinLock(&a);
    KeInitializeSpinLock(&b);
    TakeInOrder(&a, &b);
    KeInitializeSpinLock(&a);
    kmsim::ExpectViolations violations;
    TakeInOrder(&b, &a);
    EXPECT_TRUE(violations.Seen().empty());
}

TEST_F(LockOrder, FreeingPoolThatHoldsAHeldLockIsReported)
{
    constexpr ULONG kTag = kmsim::MakeTag('T', 'l', 'o', 'k');
    auto lock = static_cast<PKSPIN_LOCK>(ExAllocatePoolWithTag(NonPagedPool, sizeof(KSPIN_LOCK), kTag));
    KeInitializeSpinLock(lock);
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    {
        kmsim::ExpectViolations violations;
        ExFreePool(lock);
        EXPECT_TRUE(violations.Saw("lock", "freed while it is held"));
    }
    KeLowerIrql(old);
}

}  // namespace
