// Starting and stopping the streaming thread.
#include "mrvusbasio.h"

#include "drivertrace.h"
#include "streamthread.h"

#include <mmsystem.h>

#include <cstring>

namespace {
constexpr DWORD kStopWaitMs = 1000;
}

ASIOError MrvUsbAsio::start()
try {
    DriverTrace("MrvUsbAsio::start()\n");
    if (!inputBuffers || !outputBuffers) return ASE_InvalidMode;
    if (streamThread != INVALID_HANDLE_VALUE) {
        if (running && WaitForSingleObject(streamThread, 0) == WAIT_TIMEOUT) return ASE_OK;
        // The thread ended by itself (time-out or failed request): streaming
        // restarts on a new one.
        stopStreamThread();
    }
    const size_t bytes = size_t(bufferSize) * containerBytes();
    for (LONG i = 0; i < numInputs; ++i) {
        for (void* buffer : inputBuffers[i].buffers) memset(buffer, 0, bytes);
    }
    for (LONG i = 0; i < numOutputs; ++i) {
        for (void* buffer : outputBuffers[i].buffers) memset(buffer, 0, bytes);
    }
    memset(&asioTime.timeCode.timeCodeSamples, 0, sizeof asioTime.timeCode.timeCodeSamples);
    memset(&asioTime.timeInfo.samplePosition, 0, sizeof asioTime.timeInfo.samplePosition);
    memset(&asioTime.timeInfo.systemTime, 0, sizeof asioTime.timeInfo.systemTime);
    running = true;
    HANDLE thread = CreateThread(NULL, 0, StreamThread::run, this, CREATE_SUSPENDED, NULL);
    if (!thread) {
        running = false;
        return ASE_HWMalfunction;
    }
    streamThread = thread;
    SetThreadPriority(streamThread, THREAD_PRIORITY_TIME_CRITICAL);
    ResumeThread(streamThread);
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::stop()
try {
    DriverTrace("MrvUsbAsio::stop()\n");
    stopStreamThread();
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

bool MrvUsbAsio::stopStreamThread()
{
    const bool wasRunning = running.exchange(false);
    if (streamThread == INVALID_HANDLE_VALUE) return wasRunning;
    // The thread sees the cleared flag after its current packet, at most
    // one buffer later; one that hangs in the kernel is given up on.
    if (WaitForSingleObject(streamThread, kStopWaitMs) == WAIT_TIMEOUT) TerminateThread(streamThread, WAIT_TIMEOUT);
    CloseHandle(streamThread);
    streamThread = INVALID_HANDLE_VALUE;
    return wasRunning;
}
