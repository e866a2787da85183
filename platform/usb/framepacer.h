// A thread that moves the frame clock in real time: one step per
// millisecond divided by the speed factor. Each step returns only when its
// frame's work is done, so a slow frame delays the clock instead of piling
// steps up.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace usbsim {

class FramePacer {
public:
    // speed: frames per real millisecond (2.0 = twice real time); 0 steps
    // as fast as the work allows. Negative or not-a-number speeds throw
    // std::invalid_argument.
    FramePacer(std::function<void()> step, double speed);
    ~FramePacer();  // stops after the step in progress
    FramePacer(const FramePacer&) = delete;
    FramePacer& operator=(const FramePacer&) = delete;

private:
    void Run();

    std::function<void()> m_step;
    double m_speed;
    std::mutex m_lock;
    std::condition_variable m_stopSignal;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace usbsim
