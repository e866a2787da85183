// The audio an audio streaming alternate setting declares it carries, read
// from its class-specific descriptors (audio class 1.0 and 2.0 layouts).
#pragma once

#include <ntddk.h>
#include <usb.h>

struct StreamingFormat {
    ULONG channels = 0;
    ULONG subframeBytes = 0;
    ULONG bitResolution = 0;
    // Sampling frequencies: rateCount 3-byte entries at rates, or a
    // continuous range, or neither when a clock entity owns the rate (2.0).
    const UCHAR* rates = nullptr;
    ULONG rateCount = 0;
    bool continuous = false;
    ULONG lowestRate = 0;
    ULONG highestRate = 0;

    bool DeclaresRate(ULONG rate) const;
    bool LeavesRateToClock() const { return !continuous && rateCount == 0; }
};

// The PCM type I format that `setting` declares in the descriptors between
// it and the next interface descriptor, within [setting, end). False when
// it declares none, or only part of one.
bool ReadStreamingFormat(PUSB_INTERFACE_DESCRIPTOR setting, const void* end, StreamingFormat* format);
