#include "hostsession.h"

#include <cstdio>

std::atomic<HostSession*> HostSession::s_active{nullptr};

HostSession::HostSession(IASIO& driver) : m_driver(driver)
{
    m_callbacks.bufferSwitch = &HostSession::OnBufferSwitch;
    m_callbacks.sampleRateDidChange = &HostSession::OnSampleRateChanged;
    m_callbacks.asioMessage = &HostSession::OnMessage;
    m_callbacks.bufferSwitchTimeInfo = &HostSession::OnBufferSwitchTimeInfo;
}

HostSession::~HostSession()
{
    Close();
    if (m_done) CloseHandle(m_done);
}

bool HostSession::Fail(const char* call, ASIOError error)
{
    char text[96];
    snprintf(text, sizeof text, "%s returned %ld", call, long(error));
    m_error = text;
    return false;
}

ASIOError HostSession::Open(bool offerTimeInfo)
{
    m_offerTimeInfo = offerTimeInfo;
    ASIOError error = m_driver.getChannels(&m_shape.inputs, &m_shape.outputs);
    if (error != ASE_OK) return Fail("getChannels", error), error;
    if (m_shape.inputs < 0 || m_shape.outputs < 0 || m_shape.inputs + m_shape.outputs == 0 ||
        m_shape.inputs + m_shape.outputs > 1024) {
        m_error = "getChannels reported an impossible channel count";
        return ASE_HWMalfunction;
    }
    error = m_driver.getBufferSize(&m_shape.minSize, &m_shape.maxSize, &m_shape.bufferSize, &m_shape.granularity);
    if (error != ASE_OK) return Fail("getBufferSize", error), error;
    if (m_shape.bufferSize <= 0 || m_shape.bufferSize > (1 << 20)) {
        m_error = "getBufferSize reported an impossible preferred size";
        return ASE_HWMalfunction;
    }
    if ((error = m_driver.getSampleRate(&m_shape.rate)) != ASE_OK) return Fail("getSampleRate", error), error;
    if ((error = m_driver.getLatencies(&m_shape.inputLatency, &m_shape.outputLatency)) != ASE_OK) {
        return Fail("getLatencies", error), error;
    }
    m_buffers.clear();
    m_inputTypes.clear();
    m_outputTypes.clear();
    for (int direction = 1; direction >= 0; --direction) {
        const LONG count = direction ? m_shape.inputs : m_shape.outputs;
        auto& infos = direction ? m_shape.inputInfo : m_shape.outputInfo;
        auto& types = direction ? m_inputTypes : m_outputTypes;
        infos.assign(size_t(count), ASIOChannelInfo{});
        for (LONG c = 0; c < count; ++c) {
            ASIOChannelInfo& info = infos[size_t(c)];
            info.channel = c;
            info.isInput = direction;
            if ((error = m_driver.getChannelInfo(&info)) != ASE_OK) return Fail("getChannelInfo", error), error;
            info.name[sizeof info.name - 1] = 0;
            auto type = HostSampleType::Of(info.type);
            if (!type) {
                char text[96];
                snprintf(text, sizeof text, "channel %s %ld has sample type %ld, which this host does not handle",
                         direction ? "in" : "out", long(c + 1), long(info.type));
                m_error = text;
                return ASE_InvalidMode;
            }
            types.push_back(*type);
            ASIOBufferInfo buffer{};
            buffer.isInput = direction;
            buffer.channelNum = c;
            m_buffers.push_back(buffer);
        }
    }
    m_in.channels.assign(size_t(m_shape.inputs), std::vector<int32_t>(size_t(m_shape.bufferSize)));
    m_out.channels.assign(size_t(m_shape.outputs), std::vector<int32_t>(size_t(m_shape.bufferSize)));
    // The driver may send messages from createBuffers on, until disposeBuffers.
    HostSession* idle = nullptr;
    if (!s_active.compare_exchange_strong(idle, this)) {
        m_error = "another session holds buffers in this process";
        return ASE_InvalidMode;
    }
    error = m_driver.createBuffers(m_buffers.data(), LONG(m_buffers.size()), m_shape.bufferSize, &m_callbacks);
    if (error != ASE_OK) {
        s_active = nullptr;
        return Fail("createBuffers", error), error;
    }
    for (const ASIOBufferInfo& buffer : m_buffers) {
        if (!buffer.buffers[0] || !buffer.buffers[1]) {
            m_error = "createBuffers succeeded but left a channel without buffers";
            m_driver.disposeBuffers();
            s_active = nullptr;
            return ASE_HWMalfunction;
        }
    }
    // Latencies may change once the buffers exist.
    m_driver.getLatencies(&m_shape.inputLatency, &m_shape.outputLatency);
    m_open = true;
    return ASE_OK;
}

unsigned HostSession::Bits() const
{
    unsigned bits = 32;
    for (const auto& type : m_inputTypes) bits = type.Bits() < bits ? type.Bits() : bits;
    for (const auto& type : m_outputTypes) bits = type.Bits() < bits ? type.Bits() : bits;
    return bits;
}

SessionReport HostSession::Run(StreamProcessor& processor, int64_t frames, DWORD wallLimitMs,
                               const std::function<void(const SessionProgress&)>& progress, DWORD callbackDelayMs)
{
    SessionReport report;
    if (!m_open) return report;
    if (!m_done) m_done = CreateEventA(NULL, TRUE, FALSE, NULL);
    ResetEvent(m_done);
    processor.Prepare(m_in.channels.size(), m_out.channels.size(), size_t(m_shape.bufferSize), m_shape.rate, Bits());
    m_processor = &processor;
    m_target = frames;
    m_callbackDelay = callbackDelayMs;
    m_switches = 0;
    m_samplePosition = -1;
    m_overloads = 0;
    m_positionsInStep = true;
    m_positionFault.clear();

    if (m_clock.starting) m_clock.starting();
    const ASIOError started = m_driver.start();
    if (started != ASE_OK) {
        if (m_clock.ending) m_clock.ending();
        Fail("start", started);
        return report;
    }
    DWORD waited = 0;
    for (;;) {
        const DWORD step = 100;
        const bool done = WaitForSingleObject(m_done, step) == WAIT_OBJECT_0;
        waited += step;
        if (progress) progress({m_switches.load(), m_samplePosition.load(), m_overloads.load()});
        if (done) {
            report.completed = true;
            break;
        }
        if (waited >= wallLimitMs) break;
    }
    // Stopping waits for transfers in flight: the clock must run free.
    if (m_clock.ending) m_clock.ending();
    const ASIOError stopped = m_driver.stop();
    if (stopped != ASE_OK) Fail("stop", stopped);
    report.switches = m_switches;
    report.overloads = m_overloads;
    report.resetRequests = m_resets;
    report.lastSamplePosition = m_samplePosition;
    report.positionsInStep = m_positionsInStep;
    report.positionFault = m_positionFault;
    m_processor = nullptr;
    return report;
}

void HostSession::Close()
{
    if (!m_open) return;
    m_driver.disposeBuffers();
    m_open = false;
    s_active = nullptr;
}

void HostSession::Switch(LONG index, const ASIOTime* time)
{
    if (index != 0 && index != 1) return;
    const size_t frames = size_t(m_shape.bufferSize);
    const uint64_t switches = m_switches.load(std::memory_order_relaxed);

    // Where the driver says this buffer lies.
    int64_t position = -1;
    if (time && (time->timeInfo.flags & kSamplePositionValid)) {
        position = int64_t(uint64_t(time->timeInfo.samplePosition.hi) << 32 | time->timeInfo.samplePosition.lo);
    } else {
        ASIOSamples samples{};
        ASIOTimeStamp stamp{};
        if (m_driver.getSamplePosition(&samples, &stamp) == ASE_OK) {
            position = int64_t(uint64_t(samples.hi) << 32 | samples.lo);
        }
    }
    const int64_t previous = m_samplePosition.load(std::memory_order_relaxed);
    if (previous >= 0 && position != previous + m_shape.bufferSize && m_positionsInStep) {
        m_positionsInStep = false;
        char text[128];
        snprintf(text, sizeof text, "switch %llu: sample position %lld after %lld", (unsigned long long)switches + 1,
                 (long long)position, (long long)previous);
        m_positionFault = text;
    }
    m_samplePosition.store(position, std::memory_order_relaxed);

    size_t b = 0;
    for (size_t c = 0; c < m_in.channels.size(); ++c, ++b) {
        const void* buffer = m_buffers[b].buffers[index];
        for (size_t i = 0; i < frames; ++i) m_in.channels[c][i] = m_inputTypes[c].Read(buffer, i);
    }
    for (auto& channel : m_out.channels) std::fill(channel.begin(), channel.end(), 0);
    if (m_processor) m_processor->Process(m_in, m_out, int64_t(switches) * m_shape.bufferSize);
    for (size_t c = 0; c < m_out.channels.size(); ++c, ++b) {
        void* buffer = m_buffers[b].buffers[index];
        for (size_t i = 0; i < frames; ++i) m_outputTypes[c].Write(buffer, i, m_out.channels[c][i]);
    }
    m_driver.outputReady();
    m_switches.store(switches + 1, std::memory_order_release);
    if (m_clock.switched) m_clock.switched(int64_t(switches + 1) * m_shape.bufferSize);
    if (int64_t(switches + 1) * m_shape.bufferSize >= m_target) SetEvent(m_done);
    if (m_callbackDelay) Sleep(m_callbackDelay);
}

void HostSession::OnBufferSwitch(LONG index, ASIOBool)
{
    if (HostSession* session = s_active.load()) session->Switch(index, nullptr);
}

ASIOTime* HostSession::OnBufferSwitchTimeInfo(ASIOTime* time, LONG index, ASIOBool)
{
    if (HostSession* session = s_active.load()) session->Switch(index, time);
    return time;
}

void HostSession::OnSampleRateChanged(ASIOSampleRate) {}

LONG HostSession::OnMessage(LONG selector, LONG value, void*, double*)
{
    HostSession* session = s_active.load();
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioEngineVersion || value == kAsioResetRequest || value == kAsioSupportsTimeInfo ||
               value == kAsioOverload || value == kAsioLatenciesChanged;
    case kAsioEngineVersion: return 2;
    case kAsioResetRequest:
        // A host would release the driver and create it again; this one
        // reports the request and lets its user run again.
        if (session) ++session->m_resets;
        return 1;
    case kAsioOverload:
        if (session) ++session->m_overloads;
        return 1;
    case kAsioLatenciesChanged: return 1;
    case kAsioSupportsTimeInfo: return session ? session->m_offerTimeInfo : 1;
    default: return 0;
    }
}
