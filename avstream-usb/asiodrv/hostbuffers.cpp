// The host's double buffers: created for every channel of both pins,
// handed to the host per channel it asks for.
#include "mrvusbasio.h"

#include "drivertrace.h"

#include <cstring>
#include <new>

namespace {

// count records with two zeroed buffers of bytes each; null when any
// allocation fails (nothing is left allocated then).
ASIOBufferInfo* allocateChannels(LONG count, ASIOBool isInput, size_t bytes)
{
    ASIOBufferInfo* infos = new (std::nothrow) ASIOBufferInfo[count > 0 ? count : 1]();
    if (!infos) return nullptr;
    for (LONG i = 0; i < count; ++i) {
        infos[i].isInput = isInput;
        infos[i].channelNum = i;
        for (void*& buffer : infos[i].buffers) {
            buffer = new (std::nothrow) BYTE[bytes]();
            if (buffer) continue;
            for (LONG j = 0; j <= i; ++j) {
                for (void* b : infos[j].buffers) delete[] static_cast<BYTE*>(b);
            }
            delete[] infos;
            return nullptr;
        }
    }
    return infos;
}

void freeChannels(ASIOBufferInfo*& infos, LONG count)
{
    if (!infos) return;
    for (LONG i = 0; i < count; ++i) {
        for (void* buffer : infos[i].buffers) delete[] static_cast<BYTE*>(buffer);
    }
    delete[] infos;
    infos = nullptr;
}

}  // namespace

bool MrvUsbAsio::hostChannelsValid(const ASIOBufferInfo* bufferInfos, LONG numChannels) const
{
    for (LONG i = 0; i < numChannels; ++i) {
        const LONG count = bufferInfos[i].isInput ? numInputs : numOutputs;
        if (bufferInfos[i].channelNum < 0 || bufferInfos[i].channelNum >= count) return false;
    }
    return true;
}

ASIOError MrvUsbAsio::createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels, LONG size,
                                    ASIOCallbacks* hostCallbacks)
try {
    DriverTrace("MrvUsbAsio::createBuffers(%d)\n", int(size));
    if (numChannels > numInputs + numOutputs || size != bufferSize || size <= 0) return ASE_InvalidMode;
    if (!renderPin || !capturePin) return ASE_NotPresent;
    // Every record is checked before anything is allocated or written, so a
    // refused call leaves the host's records and the driver as they were.
    if (!bufferInfos || !hostCallbacks || numChannels <= 0 || !hostChannelsValid(bufferInfos, numChannels)) {
        return ASE_InvalidParameter;
    }
    // The streaming thread reads the buffers.
    if (running) return ASE_InvalidMode;
    const size_t bytes = size_t(size) * containerBytes();
    if (!inputBuffers) {
        inputBuffers = allocateChannels(numInputs, ASIOTrue, bytes);
        outputBuffers = inputBuffers ? allocateChannels(numOutputs, ASIOFalse, bytes) : nullptr;
        if (!outputBuffers) {
            freeChannels(inputBuffers, numInputs);
            return ASE_NoMemory;
        }
    }
    for (LONG i = 0; i < numChannels; ++i) {
        ASIOBufferInfo& host = bufferInfos[i];
        const ASIOBufferInfo& own = (host.isInput ? inputBuffers : outputBuffers)[host.channelNum];
        host.buffers[0] = own.buffers[0];
        host.buffers[1] = own.buffers[1];
        (host.isInput ? inputChannels : outputChannels)[host.channelNum].isActive = ASIOTrue;
    }
    callbacks = hostCallbacks;
    if (!hostCallbacks->asioMessage || hostCallbacks->asioMessage(kAsioSupportsTimeInfo, 0, NULL, NULL) == 0) {
        return ASE_OK;
    }
    timeInfoMode = true;
    memset(&asioTime, 0, sizeof asioTime);
    asioTime.timeInfo.speed = 1.0;
    asioTime.timeInfo.sampleRate = renderPin->GetFormat()->nSamplesPerSec;
    asioTime.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

void MrvUsbAsio::freeHostBuffers()
{
    freeChannels(inputBuffers, numInputs);
    freeChannels(outputBuffers, numOutputs);
}

ASIOError MrvUsbAsio::disposeBuffers()
try {
    DriverTrace("MrvUsbAsio::disposeBuffers()\n");
    // The streaming thread must not touch buffers that are gone.
    stopStreamThread();
    freeHostBuffers();
    callbacks = nullptr;
    timeInfoMode = false;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}
