// The frames a client has queued on a pin, oldest first, each with the
// request that carries it. A frame's header and bytes stay the client's
// until its request has ended, so the queue holds them that long.
#pragma once

#include "streamframe.h"

#include "km/ksclient.h"

#include <ks.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class StreamFrameQueue {
public:
    struct Frame : StreamFrame {
        bool read = false;
    };

    // Waits for whatever is still queued.
    ~StreamFrameQueue();

    // IOCTL_KS_WRITE_STREAM with the bytes, or IOCTL_KS_READ_STREAM with
    // room for them.
    NTSTATUS Submit(kmsim::KsClientHandle& pin, std::vector<uint8_t> bytes, bool read);
    size_t Size() const { return m_frames.size(); }
    // The oldest frame once its request has ended, else null.
    Frame* CompletedHead();
    void PopHead() { m_frames.pop_front(); }
    // Whether every request has ended, waiting up to `ms` of real time.
    bool AllEnded(unsigned ms);
    // Cancels every request and waits for them to end.
    void CancelAll();

private:
    std::deque<Frame> m_frames;  // the client's thread alone
};
