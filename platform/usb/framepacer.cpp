#include "usb/framepacer.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

namespace usbsim {

FramePacer::FramePacer(std::function<void()> step, double speed)
    : m_step(std::move(step)), m_speed(speed)
{
    if (!(speed >= 0) || std::isinf(speed))
        throw std::invalid_argument("frame pacing speed must be a finite number >= 0");
    m_thread = std::thread([this] { Run(); });
}

FramePacer::~FramePacer()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_stopSignal.notify_all();
    m_thread.join();
}

void FramePacer::Run()
{
    using Clock = std::chrono::steady_clock;
    const auto period = m_speed > 0 ? std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double, std::milli>(1.0 / m_speed))
                                    : Clock::duration::zero();
    // Deadlines from a fixed origin, so rounding never accumulates.
    Clock::time_point origin = Clock::now();
    for (unsigned long long n = 1;; ++n) {
        m_step();
        std::unique_lock lock(m_lock);
        if (m_stop) return;
        if (period == Clock::duration::zero()) continue;
        Clock::time_point deadline = origin + period * n;
        const Clock::time_point now = Clock::now();
        if (deadline < now - period * 4) {
            // Far behind (a slow frame, a debugger): resume from now rather
            // than racing to catch up.
            origin = now;
            n = 0;
            deadline = now;
        }
        if (m_stopSignal.wait_until(lock, deadline, [this] { return m_stop; })) return;
    }
}

}  // namespace usbsim
