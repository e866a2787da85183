// Moving samples between the host's per-channel buffers and the pins'
// interleaved buffers. Samples are 2 or 3 bytes and copied byte for byte,
// so no sample value is ever changed. Pure routines: no Windows calls.
#pragma once

#include <cstddef>
#include <cstdint>

// Frame i of interleaved holds sample i of channels[0], then channels[1],
// ... channels[channelCount - 1].
void interleave(const void* const* channels, unsigned channelCount, size_t frames, unsigned bytesPerSample,
                void* interleaved);

// The exact inverse of interleave.
void deinterleave(const void* interleaved, unsigned channelCount, size_t frames, unsigned bytesPerSample,
                  void* const* channels);
