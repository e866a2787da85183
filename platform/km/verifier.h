// The emulation's control surface for the kernel side: the verifier's
// findings, pool accounting and fault injection, the debug-output sink and
// time-out scaling. Tests and tools use it; product code never does.
#pragma once

#include <wdm.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kmsim {

// ---- Verifier findings ----------------------------------------------------
// Every rule the verifier enforces reports through here: pool misuse, waits or
// fast mutexes at DISPATCH_LEVEL, paged pool at DISPATCH_LEVEL, lock-order
// inversions, IRP misuse, URB header lengths, handle misuse.
struct Violation {
    std::string category;  // "pool", "irql", "lock-order", "irp", "urb", "handle", ...
    std::string message;
};
using ViolationHandler = std::function<void(const Violation&)>;

// Records the finding and calls the handler (the test main turns it into a
// test failure). With no handler installed the finding is printed and the
// process aborts, like a bug check.
void ReportViolation(const std::string& category, const std::string& message);
void SetViolationHandler(ViolationHandler handler);
ViolationHandler GetViolationHandler();
std::vector<Violation> TakeViolations();

// For tests of misuse: while in scope, findings are collected here instead
// of reaching the previous handler, which is restored on exit.
class ExpectViolations {
public:
    ExpectViolations();
    ~ExpectViolations();
    ExpectViolations(const ExpectViolations&) = delete;
    ExpectViolations& operator=(const ExpectViolations&) = delete;

    std::vector<Violation> Seen() const;
    size_t Count(const std::string& category) const;
    // Whether a finding of the category mentions the fragment.
    bool Saw(const std::string& category, const std::string& fragment = "") const;

private:
    ViolationHandler previous_;
    mutable std::mutex mutex_;
    std::vector<Violation> seen_;
};

// ---- Pool -------------------------------------------------------------------
constexpr ULONG MakeTag(char a, char b, char c, char d)
{
    return ULONG(uint8_t(a)) | ULONG(uint8_t(b)) << 8 | ULONG(uint8_t(c)) << 16 | ULONG(uint8_t(d)) << 24;
}

struct PoolUsage {
    uint64_t bytes = 0;        // outstanding
    uint64_t allocations = 0;  // outstanding
};
PoolUsage PoolOutstanding(ULONG tag);
PoolUsage PoolOutstandingAll();
// Allocations made (successful or failed) since the process started; tests
// compare two readings to prove that a path allocates nothing.
uint64_t PoolAllocationCount();
// One line per outstanding allocation: tag, size, pool type.
std::string PoolLeakReport();

// Fault injection. FailNthAllocation(1) fails the next allocation; the
// count covers every tag. FailTag fails every allocation of a tag until
// cleared. ClearPoolFaults removes both.
void FailNthAllocation(uint64_t n);
void FailTag(ULONG tag, bool fail = true);
void ClearPoolFaults();
// How many allocations the fault injection has failed so far.
uint64_t InjectedFailures();

// ---- Locks -----------------------------------------------------------------
// Forgets every recorded acquisition order. Lock identities are addresses;
// initialising a lock or freeing the pool block holding it forgets that
// address on its own, so this is only needed between unrelated scenarios.
void ResetLockOrder();

// ---- Registry handles -------------------------------------------------------
// Kernel registry handles open right now; a scenario that ends with more
// than it started with leaked one.
size_t OpenKeyHandleCount();

// ---- Debug output -----------------------------------------------------------
std::string DebugOutput();
void ClearDebugOutput();

// ---- Time -------------------------------------------------------------------
// Relative kernel time-outs (KeWaitForSingleObject, KeDelayExecutionThread)
// are multiplied by this factor, so that tests of one-second time-outs do
// not spend seconds. 1.0 by default.
void SetTimeoutScale(double scale);
double TimeoutScale();

}  // namespace kmsim
