// Shared main of every test program: verifier findings fail the running test,
// and every test must leave the pool and the registry handles exactly as it
// found them.
#include "km/verifier.h"
#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

bool g_poolLeaked = false;

class VerifierListener : public testing::EmptyTestEventListener {
    kmsim::PoolUsage before_{};
    size_t keysBefore_ = 0;

    void OnTestStart(const testing::TestInfo&) override
    {
        kmsim::TakeViolations();
        kmsim::ClearPoolFaults();
        umsim::ClearHeapFaults();
        kmsim::ClearDebugOutput();
        kmsim::ResetLockOrder();
        before_ = kmsim::PoolOutstandingAll();
        keysBefore_ = kmsim::OpenKeyHandleCount();
    }

    // Assertions cannot be raised once a test has ended, so a leak is
    // printed against the test's name and fails the whole program.
    void OnTestEnd(const testing::TestInfo& info) override
    {
        kmsim::ClearPoolFaults();
        umsim::ClearHeapFaults();
        kmsim::PoolUsage after = kmsim::PoolOutstandingAll();
        if (after.bytes != before_.bytes || after.allocations != before_.allocations) {
            g_poolLeaked = true;
            fprintf(stderr, "[  LEAKED  ] %s.%s: pool %llu -> %llu bytes\n%s", info.test_suite_name(),
                    info.name(), (unsigned long long)before_.bytes, (unsigned long long)after.bytes,
                    kmsim::PoolLeakReport().c_str());
        }
        const size_t keysAfter = kmsim::OpenKeyHandleCount();
        if (keysAfter != keysBefore_) {
            g_poolLeaked = true;
            fprintf(stderr, "[  LEAKED  ] %s.%s: %zu registry key handle(s) left open\n", info.test_suite_name(),
                    info.name(), keysAfter - keysBefore_);
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    kmsim::SetViolationHandler([](const kmsim::Violation& v) {
        ADD_FAILURE() << "verifier (" << v.category << "): " << v.message;
    });
    testing::UnitTest::GetInstance()->listeners().Append(new VerifierListener);
    int result = RUN_ALL_TESTS();
    return g_poolLeaked ? 1 : result;
}
