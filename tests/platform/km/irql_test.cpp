#include "km/verifier.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Irql, RaiseReturnsThePreviousLevelAndLowerRestoresIt)
{
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    KIRQL old;
    KeRaiseIrql(APC_LEVEL, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeRaiseIrqlToDpcLevel(), APC_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeLowerIrql(APC_LEVEL);
    KeLowerIrql(old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(Irql, EachThreadHasItsOwnLevel)
{
    KIRQL old = KeRaiseIrqlToDpcLevel();
    KIRQL seen = HIGH_LEVEL;
    std::thread([&] { seen = KeGetCurrentIrql(); }).join();
    KeLowerIrql(old);
    EXPECT_EQ(seen, PASSIVE_LEVEL);
}

TEST(Irql, RaisingToALowerLevelIsReported)
{
    KIRQL old = KeRaiseIrqlToDpcLevel();
    {
        kmsim::ExpectViolations violations;
        KIRQL ignored;
        KeRaiseIrql(APC_LEVEL, &ignored);
        EXPECT_TRUE(violations.Saw("irql", "KeRaiseIrql to a lower level"));
    }
    KeLowerIrql(old);
}

TEST(Irql, LoweringToAHigherLevelIsReported)
{
    kmsim::ExpectViolations violations;
    KeLowerIrql(DISPATCH_LEVEL);
    KeRaiseIrql(DISPATCH_LEVEL, nullptr);
    KeLowerIrql(PASSIVE_LEVEL);
    EXPECT_TRUE(violations.Saw("irql", "KeLowerIrql to a higher level"));
    EXPECT_EQ(violations.Seen().size(), 1u);
}

}  // namespace
