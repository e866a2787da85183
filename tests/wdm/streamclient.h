// An audio client of the driver's pins for tests: opens a pin in a PCM
// format, moves it through its states, and queues frames as
// IOCTL_KS_WRITE_STREAM / IOCTL_KS_READ_STREAM requests, one frame each.
#pragma once

#include "drivertestbed.h"
#include "streamframe.h"

#include <deque>
#include <memory>
#include <vector>

class StreamClient {
public:
    using Frame = StreamFrame;

    StreamClient(usbsim::Bus& bus, kmsim::KsClientHandle& filter, ULONG pinId, const WaveFormat& format)
        : m_bus(bus), m_format(format)
    {
        m_status = filter.CreatePin(PinConnect(pinId), &format.format, &m_pin);
    }
    ~StreamClient()
    {
        if (m_pin) {
            LeaveRun(KSSTATE_STOP);
            m_pin->Close();
        }
    }

    NTSTATUS Status() const { return m_status; }
    kmsim::KsClientHandle& Pin() { return *m_pin; }
    NTSTATUS Run() { return m_pin->SetState(KSSTATE_RUN); }
    NTSTATUS Pause() { return LeaveRun(KSSTATE_PAUSE); }

    // A render frame with these bytes (DataUsed = bytes.size()).
    Frame& Write(std::vector<uint8_t> bytes)
    {
        auto& frame = Queue(std::move(bytes), IOCTL_KS_WRITE_STREAM);
        return frame;
    }
    // A capture frame of this many bytes.
    Frame& Read(ULONG bytes) { return Queue(std::vector<uint8_t>(bytes, 0xEE), IOCTL_KS_READ_STREAM, true); }

    std::deque<Frame>& Frames() { return m_frames; }
    // Frames whose request has completed, oldest first, taken off the queue.
    std::vector<Frame> TakeCompleted()
    {
        std::vector<Frame> done;
        while (!m_frames.empty() && m_frames.front().request->Done()) {
            done.push_back(std::move(m_frames.front()));
            m_frames.pop_front();
        }
        return done;
    }

    ULONG BlockAlign() const { return m_format.wave.Format.nBlockAlign; }

private:
    // The last client leaving RUN waits for the stream's transfers, which
    // end only as USB frames pass: the clock runs meanwhile, as it always
    // does on a real bus.
    NTSTATUS LeaveRun(KSSTATE state)
    {
        const bool paced = m_bus.Pacing();
        if (!paced) m_bus.StartPacing(0);
        NTSTATUS status = m_pin->SetState(state);
        if (!paced) m_bus.StopPacing();
        return status;
    }

    Frame& Queue(std::vector<uint8_t> bytes, ULONG code, bool capture = false)
    {
        return QueueStreamFrame(*m_pin, m_frames, std::move(bytes), code, capture);
    }

    usbsim::Bus& m_bus;
    WaveFormat m_format;
    NTSTATUS m_status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<kmsim::KsClientHandle> m_pin;
    std::deque<Frame> m_frames;
};

// Samples as a client sends them: 16-bit or packed 24-bit little-endian.
inline void PutSample(std::vector<uint8_t>& out, int32_t value, int bits)
{
    for (int b = 0; b < bits / 8; ++b) out.push_back(uint8_t(value >> (8 * b)));
}
