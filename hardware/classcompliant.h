// Pieces of the class-compliant set that the odd cases reuse.
#pragma once

#include "hardware/descriptorbytes.h"

namespace hardware {

// 294 bytes: 49 frames of 2 x 24-bit.
constexpr uint16_t kClassCompliantPacket = 49 * 2 * 3;

Bytes ClassCompliantAudioControl();
// Streaming interface `number`: alt 0 idle, alt 1 with one isochronous data
// pipe (plus extraEndpoint's descriptors, when given, as a second pipe).
Bytes ClassCompliantStreaming(uint8_t number, uint8_t endpointAddress, Bytes extraEndpoint,
                              uint16_t maxPacketSize = kClassCompliantPacket);
Bytes ClassCompliantVendor(uint8_t number);

}  // namespace hardware
