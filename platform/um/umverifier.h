// The user-mode side's view of the verifier, for tests and tools: open
// handles, heap fault injection, and findings collected while misuse is exercised on purpose.
// Plain C++, so it can sit beside <windows.h>.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace umsim {

// Win32 handles open right now (events, threads, files, keys, modules, sets).
size_t OpenHandleCount();

// Fault injection into the C runtime's heap: the nothrow operator new and
// new[] of every user-mode module (the forms product code allocates with;
// the throwing forms never fail). FailNthHeapAllocation(1) fails the next
// allocation of any thread; later ones succeed. Counting starts when armed
// and goes on until ClearHeapFaults, so arming with UINT64_MAX counts what
// a scenario allocates.
void FailNthHeapAllocation(uint64_t n);
void ClearHeapFaults();
// Failures injected since the process started.
uint64_t InjectedHeapFailures();
// Nothrow allocations since the last FailNthHeapAllocation; 0 when disarmed.
uint64_t HeapAllocationsSinceArmed();

// While in scope, verifier findings are collected here instead of failing
// the running test.
class ViolationCapture {
public:
    ViolationCapture();
    ~ViolationCapture();
    ViolationCapture(const ViolationCapture&) = delete;
    ViolationCapture& operator=(const ViolationCapture&) = delete;

    size_t Count(const std::string& category) const;
    bool Saw(const std::string& category, const std::string& fragment = "") const;
    std::vector<std::string> Messages() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace umsim
