// Verifier findings: every rule reports here; the installed handler decides
// whether a finding fails a test or is merely recorded.
#include "km/verifier.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace kmsim {
namespace {

std::mutex g_mutex;
ViolationHandler g_handler;
std::vector<Violation> g_recorded;

}  // namespace

void ReportViolation(const std::string& category, const std::string& message)
{
    ViolationHandler handler;
    {
        std::lock_guard lock(g_mutex);
        g_recorded.push_back({category, message});
        handler = g_handler;
    }
    // Called outside the lock: handlers may report again or inspect state.
    if (handler) {
        handler({category, message});
        return;
    }
    fprintf(stderr, "*** verifier (%s): %s\n", category.c_str(), message.c_str());
    abort();
}

void SetViolationHandler(ViolationHandler handler)
{
    std::lock_guard lock(g_mutex);
    g_handler = std::move(handler);
}

ViolationHandler GetViolationHandler()
{
    std::lock_guard lock(g_mutex);
    return g_handler;
}

std::vector<Violation> TakeViolations()
{
    std::lock_guard lock(g_mutex);
    return std::exchange(g_recorded, {});
}

ExpectViolations::ExpectViolations() : previous_(GetViolationHandler())
{
    SetViolationHandler([this](const Violation& v) {
        std::lock_guard lock(mutex_);
        seen_.push_back(v);
    });
}

ExpectViolations::~ExpectViolations() { SetViolationHandler(std::move(previous_)); }

std::vector<Violation> ExpectViolations::Seen() const
{
    std::lock_guard lock(mutex_);
    return seen_;
}

size_t ExpectViolations::Count(const std::string& category) const
{
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const Violation& v : seen_) n += v.category == category;
    return n;
}

bool ExpectViolations::Saw(const std::string& category, const std::string& fragment) const
{
    std::lock_guard lock(mutex_);
    for (const Violation& v : seen_) {
        if (v.category == category && v.message.find(fragment) != std::string::npos) return true;
    }
    return false;
}

}  // namespace kmsim
