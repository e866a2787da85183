// The driver's tagged allocation: zeroed pool memory the verifier accounts
// to the tag, and null instead of an exception when pool runs out.
#include "kernelobject.h"
#include "km/verifier.h"

#include <gtest/gtest.h>

namespace {

constexpr ULONG kTag = kmsim::MakeTag('T', 'n', 'e', 'w');

struct Object {
    int values[16];
};

TEST(KernelObjectAllocation, TaggedNewGivesZeroedPoolAndNullOnFailure)
{
    auto* object = new (NonPagedPool, kTag) Object;
    ASSERT_NE(object, nullptr);
    for (int v : object->values) EXPECT_EQ(v, 0);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).bytes, sizeof(Object));
    operator delete(object, NonPagedPool, kTag);
    EXPECT_EQ(kmsim::PoolOutstanding(kTag).bytes, 0u);

    kmsim::FailTag(kTag);
    EXPECT_EQ(new (NonPagedPool, kTag) Object, nullptr);
    EXPECT_EQ(new (NonPagedPool, kTag) Object[3], nullptr);
}

struct Counted : KernelObject {
    ULONG value = 7;
};

TEST(KernelObjectAllocation, ObjectsComeFromTheObjectTagAndReturnToIt)
{
    auto* object = new Counted;
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->value, 7u);
    EXPECT_EQ(kmsim::PoolOutstanding(kObjectTag).allocations, 1u);
    delete object;
    EXPECT_EQ(kmsim::PoolOutstanding(kObjectTag).allocations, 0u);
}

}  // namespace
