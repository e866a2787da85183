#include "km/verifier.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr ULONG kTag = kmsim::MakeTag('T', 'l', 'a', 'l');

TEST(Lookaside, BlocksComeFromPoolUnderTheListsTag)
{
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 48, kTag, 0);
    PVOID block = ExAllocateFromNPagedLookasideList(&list);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).bytes, 48u);
    ExFreeToNPagedLookasideList(&list, block);
    ExDeleteNPagedLookasideList(&list);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).allocations, 0u);
}

TEST(Lookaside, FreedBlocksAreReusedUpToTheDepth)
{
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 32, kTag, 2);
    std::vector<PVOID> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(ExAllocateFromNPagedLookasideList(&list));
    for (PVOID block : blocks) ExFreeToNPagedLookasideList(&list, block);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).allocations, 2u);  // the first two cached, the rest back in pool
    uint64_t allocationsBefore = kmsim::PoolAllocationCount();
    PVOID again = ExAllocateFromNPagedLookasideList(&list);
    EXPECT_EQ(kmsim::PoolAllocationCount(), allocationsBefore);  // served from the cache
    EXPECT_TRUE(again == blocks[0] || again == blocks[1]);
    ExFreeToNPagedLookasideList(&list, again);
    ExDeleteNPagedLookasideList(&list);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).allocations, 0u);
}

TEST(Lookaside, AllocationAtDispatchIsAllowed)
{
    kmsim::ExpectViolations violations;
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 16, kTag, 0);
    KIRQL old = KeRaiseIrqlToDpcLevel();
    PVOID block = ExAllocateFromNPagedLookasideList(&list);
    ExFreeToNPagedLookasideList(&list, block);
    KeLowerIrql(old);
    ExDeleteNPagedLookasideList(&list);
    EXPECT_TRUE(violations.Seen().empty());
}

TEST(Lookaside, AllocationFailureGivesNull)
{
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, nullptr, nullptr, 0, 16, kTag, 0);
    kmsim::FailTag(kTag);
    EXPECT_EQ(ExAllocateFromNPagedLookasideList(&list), nullptr);
    kmsim::FailTag(kTag, false);
    ExDeleteNPagedLookasideList(&list);
}

int g_customAllocations = 0;
PVOID CountingAllocate(POOL_TYPE type, SIZE_T size, ULONG tag)
{
    ++g_customAllocations;
    return ExAllocatePoolWithTag(type, size, tag);
}
void CountingFree(PVOID block)
{
    --g_customAllocations;
    ExFreePool(block);
}

TEST(Lookaside, CustomRoutinesAreUsed)
{
    NPAGED_LOOKASIDE_LIST list;
    ExInitializeNPagedLookasideList(&list, CountingAllocate, CountingFree, 0, 16, kTag, 1);
    PVOID a = ExAllocateFromNPagedLookasideList(&list);
    PVOID b = ExAllocateFromNPagedLookasideList(&list);
    EXPECT_EQ(g_customAllocations, 2);
    ExFreeToNPagedLookasideList(&list, a);
    ExFreeToNPagedLookasideList(&list, b);
    EXPECT_EQ(g_customAllocations, 1);
    ExDeleteNPagedLookasideList(&list);
    EXPECT_EQ(g_customAllocations, 0);
}

}  // namespace
