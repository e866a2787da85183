#include "streamframequeue.h"

#include <chrono>
#include <thread>

StreamFrameQueue::~StreamFrameQueue()
{
    for (Frame& frame : m_frames) frame.request->Wait();
}

NTSTATUS StreamFrameQueue::Submit(kmsim::KsClientHandle& pin, std::vector<uint8_t> bytes, bool read)
{
    Frame& frame = m_frames.emplace_back();
    frame.data = std::move(bytes);
    frame.read = read;
    const NTSTATUS status = SubmitStreamFrame(pin, frame, read ? IOCTL_KS_READ_STREAM : IOCTL_KS_WRITE_STREAM, read);
    if (!frame.request) m_frames.pop_back();
    return status;
}

StreamFrameQueue::Frame* StreamFrameQueue::CompletedHead()
{
    if (m_frames.empty() || !m_frames.front().request->Done()) return nullptr;
    return &m_frames.front();
}

bool StreamFrameQueue::AllEnded(unsigned ms)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (Frame& frame : m_frames) {
        while (!frame.request->Done()) {
            if (std::chrono::steady_clock::now() > giveUp) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void StreamFrameQueue::CancelAll()
{
    for (Frame& frame : m_frames) frame.request->Cancel();
    for (Frame& frame : m_frames) frame.request->Wait();
    m_frames.clear();
}
