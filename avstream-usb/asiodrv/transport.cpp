// Starting and stopping the streaming thread.
#include "mrvusbasio.h"

#include "drivertrace.h"
#include "streamthread.h"

#include <mmsystem.h>

#include <cstring>

namespace {
constexpr DWORD kStopWaitMs = 1000;
constexpr DWORD kStartWaitMs = 2000;
}

void MrvUsbAsio::closeStartedEvent()
{
    if (startedEvent != INVALID_HANDLE_VALUE) CloseHandle(startedEvent);
    startedEvent = INVALID_HANDLE_VALUE;
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
    startedEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!startedEvent) {
        startedEvent = INVALID_HANDLE_VALUE;
        return ASE_NoMemory;
    }
    startError = ASE_OK;
    running = true;
    HANDLE thread = CreateThread(NULL, 0, StreamThread::run, this, CREATE_SUSPENDED, NULL);
    if (!thread) {
        running = false;
        closeStartedEvent();
        return ASE_HWMalfunction;
    }
    streamThread = thread;
    SetThreadPriority(streamThread, THREAD_PRIORITY_TIME_CRITICAL);
    ResumeThread(streamThread);
    // The thread builds its ring and runs the pins up; a failure there is
    // start's. A start-up slower than this is taken as started.
    const bool done = WaitForSingleObject(startedEvent, kStartWaitMs) == WAIT_OBJECT_0;
    if (done && startError != ASE_OK) {
        const ASIOError error = startError;
        stopStreamThread();
        closeStartedEvent();
        return error;
    }
    if (done) closeStartedEvent();
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
    // The thread no longer signals it (a slow start-up left it open).
    closeStartedEvent();
    return wasRunning;
}
