#include "streamthread.h"

#include "interleave.h"
#include "kspacket.h"
#include "kstrace.h"
#include "mrvusbasio.h"
#include "overloadtracker.h"

#include <mmsystem.h>

#include <new>

namespace {

constexpr KSSTATE kRunUp[] = {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};
constexpr KSSTATE kRunDown[] = {KSSTATE_PAUSE, KSSTATE_ACQUIRE, KSSTATE_STOP};

ULONG pinBufferBytes(const WAVEFORMATEX* format, LONG frames)
{
    return ULONG(format->nChannels) * format->wBitsPerSample * ULONG(frames) / 8;
}

void store64(ULONG& hi, ULONG& lo, ULONGLONG value)
{
    hi = ULONG(value >> 32);
    lo = ULONG(value);
}

// The buffers[index] of each channel, side by side for the interleaving routines.
constexpr LONG kMaxChannels = 64;
bool gatherBuffers(const ASIOBufferInfo* infos, LONG count, WORD pinChannels, int index,
                   void* (&buffers)[kMaxChannels])
{
    if (!infos || count <= 0 || count > kMaxChannels || count != pinChannels) return false;
    for (LONG c = 0; c < count; ++c) buffers[c] = infos[c].buffers[index];
    return true;
}

}  // namespace

DWORD WINAPI StreamThread::run(LPVOID driver)
{
    MrvUsbAsio& asio = *static_cast<MrvUsbAsio*>(driver);
    CKsAudPin* capture = asio.capturePin;
    CKsAudPin* render = asio.renderPin;
    const WAVEFORMATEX* captureFormat = capture->GetFormat();
    const WAVEFORMATEX* renderFormat = render->GetFormat();
    const LONG packets = asio.prefs.numKsPackets;
    const LONG frames = asio.bufferSize;
    const unsigned sampleBytes = asio.containerBytes();

    KsPacket* ring = new (std::nothrow) KsPacket[packets];
    bool ready = ring != nullptr;
    for (LONG i = 0; ready && i < packets; ++i) {
        ready = ring[i].allocate(pinBufferBytes(captureFormat, frames), pinBufferBytes(renderFormat, frames));
    }
    timeBeginPeriod(1);
    // start reports what went wrong here: without its ring or with a pin that
    // cannot run, the thread would stream nothing and the host never learn.
    ASIOError started = ready ? ASE_OK : ASE_NoMemory;
    for (KSSTATE state : kRunUp) {
        if (started != ASE_OK) break;
        if (FAILED(capture->SetState(state)) || FAILED(render->SetState(state))) started = ASE_HWMalfunction;
    }
    asio.startError = started;
    SetEvent(asio.startedEvent);
    ready = started == ASE_OK;

    LONG position = 0;
    int index = 0;
    OverloadTracker overloads;
    ULONGLONG samplePosition = 0;
    AsioTimeInfo& timeInfo = asio.asioTime.timeInfo;
    bool failed = false;  // the loop ended by itself, not by stop
    while (ready && asio.running) {
        KsPacket& packet = ring[position];
        DWORD waited = packet.waitForCompletion();
        if (waited == WAIT_TIMEOUT) {
            KsTrace(1, "packet.WaitForCompletion() TIMED OUT! :-S");
            failed = true;
            break;
        }
        if (waited != WAIT_OBJECT_0) {
            KsTrace(1, "packet.WaitForCompletion() failed - code %d", int(GetLastError()));
            failed = true;
            break;
        }
        ASIOCallbacks* host = asio.callbacks;
        const bool discontinuity = packet.discontinuity();
        if (discontinuity && host && host->asioMessage) host->asioMessage(kAsioOverload, 0, NULL, NULL);
        if (overloads.packetCompleted(discontinuity)) {
            samplePosition += ULONGLONG(frames);
            store64(timeInfo.samplePosition.hi, timeInfo.samplePosition.lo, samplePosition);
            store64(timeInfo.systemTime.hi, timeInfo.systemTime.lo, ULONGLONG(timeGetTime()) * 1000000);

            void* buffers[kMaxChannels];
            if (gatherBuffers(asio.inputBuffers, asio.numInputs, captureFormat->nChannels, index, buffers)) {
                deinterleave(packet.in.buffer, captureFormat->nChannels, size_t(frames), sampleBytes, buffers);
            }
            if (host) {
                if (asio.timeInfoMode && host->bufferSwitchTimeInfo) {
                    host->bufferSwitchTimeInfo(&asio.asioTime, index, asio.prefs.bufferSwitchDirect);
                } else if (host->bufferSwitch) {
                    host->bufferSwitch(index, asio.prefs.bufferSwitchDirect);
                }
            }
            timeInfo.flags &= ~ULONG(kSampleRateChanged | kClockSourceChanged);
            // What goes out now is the half the host filled in the previous switch.
            index = 1 - index;
            if (gatherBuffers(asio.outputBuffers, asio.numOutputs, renderFormat->nChannels, index, buffers)) {
                interleave(buffers, renderFormat->nChannels, size_t(frames), sampleBytes, packet.out.buffer);
            }
        }
        HRESULT hr = packet.read(capture);
        if (FAILED(hr)) {
            KsTrace(1, "packet.in.Read() failed - code %d", int(hr));
            failed = true;
            break;
        }
        hr = packet.write(render);
        if (FAILED(hr)) {
            KsTrace(1, "packet.in.Read() failed - code %d", int(hr));
            failed = true;
            break;
        }
        position = (position + 1) % packets;
    }

    capture->CancelPendingIo();
    render->CancelPendingIo();
    for (KSSTATE state : kRunDown) {
        capture->SetState(state);
        render->SetState(state);
    }
    if (ring) {
        for (LONG i = 0; i < packets; ++i) ring[i].waitUntilIdle();
        delete[] ring;
    }
    timeEndPeriod(1);
    // Streaming stopped without the host asking: it must set the driver up
    // again, and only a reset tells it so.
    if (failed) asio.requestReset();
    asio.running = false;
    return 0;
}
