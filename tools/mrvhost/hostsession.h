// One ASIO session as a host runs it: buffers for every channel, the
// callbacks, streaming for a number of frames, and what the driver did on
// the way. Works with any ASIO driver through IASIO alone.
#pragma once

#include "asiointerface.h"
#include "hostsamples.h"
#include "streamprocessor.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

struct DriverShape {
    LONG inputs = 0;
    LONG outputs = 0;
    LONG bufferSize = 0;  // the preferred size, the one the session uses
    LONG minSize = 0, maxSize = 0, granularity = 0;
    LONG inputLatency = 0;
    LONG outputLatency = 0;
    double rate = 0;
    std::vector<ASIOChannelInfo> inputInfo, outputInfo;
};

struct SessionReport {
    uint64_t switches = 0;
    uint64_t overloads = 0;       // kAsioOverload messages
    uint64_t resetRequests = 0;   // kAsioResetRequest messages
    bool positionsInStep = true;  // the sample position advanced by the buffer size at every switch
    std::string positionFault;    // the first step that did not
    int64_t lastSamplePosition = -1;
    bool completed = false;       // the stream covered the frames asked before the wall-clock limit
};

// What a progress line shows, read while streaming.
// Told as the session streams (on the driver's thread for each switch).
struct SessionClock {
    std::function<void()> starting;
    std::function<void(int64_t framesHandedOver)> switched;
    std::function<void()> ending;
};

struct SessionProgress {
    uint64_t switches;
    int64_t samplePosition;
    uint64_t overloads;
};

class HostSession {
public:
    explicit HostSession(IASIO& driver);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Reads the driver's shape and creates buffers for every channel.
    // ASE_OK, or the failing call's error with Error() saying which.
    ASIOError Open(bool offerTimeInfo = true);
    const DriverShape& Shape() const { return m_shape; }
    const std::string& Error() const { return m_error; }
    // Bits of the sample type both directions share (the narrower one).
    unsigned Bits() const;

    // Starts, streams until `frames` frames were switched or `wallLimitMs`
    // of real time passed, and stops. Progress is called about ten times a
    // second on the calling thread. callbackDelayMs makes every buffer
    // switch that much slower, to see how the driver copes with a slow host.
    SessionReport Run(StreamProcessor& processor, int64_t frames, DWORD wallLimitMs,
                      const std::function<void(const SessionProgress&)>& progress = {}, DWORD callbackDelayMs = 0);

    // disposeBuffers (done by the destructor too).
    void Close();

    void SetClock(SessionClock clock) { m_clock = std::move(clock); }

private:
    static void OnBufferSwitch(LONG index, ASIOBool directProcess);
    static ASIOTime* OnBufferSwitchTimeInfo(ASIOTime* time, LONG index, ASIOBool directProcess);
    static void OnSampleRateChanged(ASIOSampleRate rate);
    static LONG OnMessage(LONG selector, LONG value, void* message, double* opt);
    void Switch(LONG index, const ASIOTime* time);
    bool Fail(const char* call, ASIOError error);

    IASIO& m_driver;
    DriverShape m_shape;
    std::string m_error;
    std::vector<ASIOBufferInfo> m_buffers;  // inputs first, then outputs
    std::vector<HostSampleType> m_inputTypes, m_outputTypes;
    ASIOCallbacks m_callbacks{};
    bool m_offerTimeInfo = true;
    bool m_open = false;
    SessionClock m_clock;  // set before streaming, read by both threads

    // Written by the driver's thread during Run, read by the host's thread
    // (progress) through the atomics; the rest is the driver thread's alone
    // until stop has returned.
    StreamProcessor* m_processor = nullptr;
    ChannelBlock m_in, m_out;
    int64_t m_target = 0;
    DWORD m_callbackDelay = 0;
    HANDLE m_done = NULL;
    std::atomic<uint64_t> m_switches{0};
    std::atomic<int64_t> m_samplePosition{-1};
    std::atomic<uint64_t> m_overloads{0};
    std::atomic<uint64_t> m_resets{0};
    bool m_positionsInStep = true;
    std::string m_positionFault;

    // The callbacks carry no context: one session streams at a time.
    static std::atomic<HostSession*> s_active;
};
