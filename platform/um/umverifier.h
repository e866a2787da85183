// The user-mode side's view of the verifier, for tests and tools: open
// handles, and findings collected while misuse is exercised on purpose.
// Plain C++, so it can sit beside <windows.h>.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace umsim {

// Win32 handles open right now (events, threads, files, keys, modules, sets).
size_t OpenHandleCount();

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
