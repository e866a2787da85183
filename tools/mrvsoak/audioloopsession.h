// One audio client session on a device that loops its audio output to its
// input: a render and a capture pin opened in 24-bit stereo, taken through
// ACQUIRE and PAUSE (where frames queue) to RUN, a counting signal played for
// a number of 10-ms buffers, then PAUSE, STOP and close. The capture must
// carry silence, then the signal sample-exact from its first sample on.
#pragma once

#include "kernelrig.h"

#include <cstdint>
#include <string>

struct AudioSessionResult {
    uint64_t framesChecked = 0;  // audio frames compared
    uint64_t busFrames = 0;
    std::string fault;  // empty when the loop came back sample-exact
};

AudioSessionResult RunAudioLoopSession(KernelRig& rig, ULONG renderPin, ULONG capturePin, ULONG rate,
                                       uint32_t buffers);
