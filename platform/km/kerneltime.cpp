// System time, interrupt time and the scale applied to relative time-outs.
#include "km/kerneltime.h"

#include "km/verifier.h"

#include <atomic>

namespace kmsim {
namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochIn1601Units = 116444736000000000LL;

std::atomic<double> g_timeoutScale{1.0};

const std::chrono::steady_clock::time_point g_boot = std::chrono::steady_clock::now();

using Units100ns = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;

int64_t SystemTimeNow()
{
    auto sinceUnixEpoch = std::chrono::duration_cast<Units100ns>(std::chrono::system_clock::now().time_since_epoch());
    return sinceUnixEpoch.count() + kUnixEpochIn1601Units;
}

}  // namespace

void SetTimeoutScale(double scale) { g_timeoutScale = scale > 0 ? scale : 0.0; }

double TimeoutScale() { return g_timeoutScale; }

std::chrono::steady_clock::time_point DeadlineFromTimeout(LONGLONG timeout)
{
    auto now = std::chrono::steady_clock::now();
    if (timeout < 0) {
        // Scaled in double: a scale of 1e-6 must not round a second to zero
        // through integer steps, and huge values must not overflow.
        double units = -double(timeout) * TimeoutScale();
        constexpr double kMaxUnits = 1e17;  // some 300 years
        return now + Units100ns(int64_t(units < kMaxUnits ? units : kMaxUnits));
    }
    int64_t remaining = timeout - SystemTimeNow();
    return now + Units100ns(remaining > 0 ? remaining : 0);
}

}  // namespace kmsim

void KeQuerySystemTime(PLARGE_INTEGER CurrentTime) { CurrentTime->QuadPart = kmsim::SystemTimeNow(); }

ULONGLONG KeQueryInterruptTime(void)
{
    return ULONGLONG(std::chrono::duration_cast<kmsim::Units100ns>(std::chrono::steady_clock::now() - kmsim::g_boot).count());
}
