#include "km/systemallocations.h"
#include "km/verifier.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr ULONG kTag = kmsim::MakeTag('T', 'p', 'o', 'l');
constexpr ULONG kOtherTag = kmsim::MakeTag('T', 'o', 't', 'h');

TEST(Pool, AccountsOutstandingBytesAndAllocationsPerTag)
{
    PVOID a = ExAllocatePoolWithTag(NonPagedPool, 100, kTag);
    PVOID b = ExAllocatePoolWithTag(PagedPool, 28, kTag);
    PVOID c = ExAllocatePoolWithTag(NonPagedPool, 5, kOtherTag);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).bytes, 128u);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).allocations, 2u);
    EXPECT_EQ(kmsim::PoolOutstanding(kOtherTag).bytes, 5u);
    ExFreePoolWithTag(a, kTag);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).bytes, 28u);
    ExFreePool(b);
    ExFreePool(c);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).allocations, 0u);
}

TEST(Pool, LeakReportNamesTagAndSize)
{
    PVOID p = ExAllocatePoolWithTag(NonPagedPool, 77, kTag);
    std::string report = kmsim::PoolLeakReport();
    EXPECT_NE(report.find("'Tpol'"), std::string::npos) << report;
    EXPECT_NE(report.find("77 bytes"), std::string::npos) << report;
    ExFreePool(p);
    EXPECT_EQ(kmsim::PoolLeakReport().find("'Tpol'"), std::string::npos);
}

TEST(Pool, ZeroSizeAllocationsHaveUniqueAddresses)
{
    PVOID a = ExAllocatePoolWithTag(NonPagedPool, 0, kTag);
    PVOID b = ExAllocatePoolWithTag(NonPagedPool, 0, kTag);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).allocations, 2u);
    ExFreePool(a);
    ExFreePool(b);
}

TEST(Pool, FailNthAllocationFailsExactlyThatOne)
{
    kmsim::FailNthAllocation(3);
    uint64_t injectedBefore = kmsim::InjectedFailures();
    PVOID blocks[4];
    for (PVOID& block : blocks) block = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
    EXPECT_NE(blocks[0], nullptr);
    EXPECT_NE(blocks[1], nullptr);
    EXPECT_EQ(blocks[2], nullptr);
    EXPECT_NE(blocks[3], nullptr);
    EXPECT_EQ(kmsim::InjectedFailures(), injectedBefore + 1);
    for (PVOID block : blocks) {
        if (block) ExFreePool(block);
    }
}

TEST(Pool, FailTagFailsOnlyThatTagUntilCleared)
{
    kmsim::FailTag(kTag);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kTag), nullptr);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kTag), nullptr);
    PVOID other = ExAllocatePoolWithTag(NonPagedPool, 8, kOtherTag);
    EXPECT_NE(other, nullptr);
    ExFreePool(other);
    kmsim::FailTag(kTag, false);
    PVOID again = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
    EXPECT_NE(again, nullptr);
    ExFreePool(again);
}

TEST(Pool, AllocationCountCountsFailedAllocationsToo)
{
    uint64_t before = kmsim::PoolAllocationCount();
    kmsim::FailNthAllocation(1);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kTag), nullptr);
    PVOID p = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
    EXPECT_EQ(kmsim::PoolAllocationCount(), before + 2);
    ExFreePool(p);
}

TEST(Pool, TheSystemsOwnAllocationsPassTheFaultInjectionByWithoutTakingItsTurn)
{
    kmsim::FailNthAllocation(1);
    kmsim::FailTag(kTag);
    PVOID system = nullptr;
    {
        kmsim::SystemAllocations scope;
        system = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
    }
    EXPECT_NE(system, nullptr);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, kOtherTag), nullptr) << "the armed failure is the next one's";
    kmsim::ClearPoolFaults();
    ExFreePool(system);
}

struct PoolMisuse {
    const char* name;
    void (*misuse)();
    const char* category;
    const char* fragment;
};

const PoolMisuse kPoolMisuses[] = {
    {"DoubleFree",
     [] {
         PVOID p = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
         ExFreePool(p);
         ExFreePool(p);
     },
     "pool", "already freed"},
    {"FreeOfInteriorPointer",
     [] {
         auto p = static_cast<char*>(ExAllocatePoolWithTag(NonPagedPool, 8, kTag));
         ExFreePool(p + 4);
         ExFreePool(p);
     },
     "pool", "not the start of a pool block"},
    {"FreeOfNull", [] { ExFreePool(nullptr); }, "pool", "null"},
    {"WrongTag",
     [] {
         PVOID p = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
         ExFreePoolWithTag(p, kOtherTag);
     },
     "pool", "does not match"},
    {"PagedAllocationAtDispatch",
     [] {
         KIRQL old = KeRaiseIrqlToDpcLevel();
         PVOID p = ExAllocatePoolWithTag(PagedPool, 8, kTag);
         KeLowerIrql(old);
         ExFreePool(p);
     },
     "irql", "paged pool allocated"},
    {"PagedFreeAtDispatch",
     [] {
         PVOID p = ExAllocatePoolWithTag(PagedPool, 8, kTag);
         KIRQL old = KeRaiseIrqlToDpcLevel();
         ExFreePool(p);
         KeLowerIrql(old);
     },
     "irql", "paged pool freed"},
};

class PoolMisuseTest : public testing::TestWithParam<PoolMisuse> {};

TEST_P(PoolMisuseTest, IsReported)
{
    kmsim::ExpectViolations violations;
    GetParam().misuse();
    EXPECT_TRUE(violations.Saw(GetParam().category, GetParam().fragment));
    EXPECT_EQ(violations.Seen().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Pool, PoolMisuseTest, testing::ValuesIn(kPoolMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Pool, CorrectUseAtDispatchIsSilent)
{
    kmsim::ExpectViolations violations;
    KIRQL old = KeRaiseIrqlToDpcLevel();
    PVOID p = ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
    ExFreePoolWithTag(p, kTag);
    KeLowerIrql(old);
    EXPECT_TRUE(violations.Seen().empty());
}

}  // namespace
