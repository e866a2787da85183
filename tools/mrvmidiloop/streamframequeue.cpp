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
    frame.header.Size = sizeof(KSSTREAM_HEADER);
    frame.header.FrameExtent = ULONG(frame.data.size());
    frame.header.DataUsed = read ? 0 : ULONG(frame.data.size());
    frame.header.Data = frame.data.data();
    const NTSTATUS status = pin.SubmitStream(read ? IOCTL_KS_READ_STREAM : IOCTL_KS_WRITE_STREAM, &frame.header,
                                             sizeof(frame.header), &frame.request);
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
