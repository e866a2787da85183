#include "interleave.h"

#include <cstring>

namespace {

// The sample width is a template argument so that each copy is a fixed-size
// move the compiler can inline.
template <unsigned kBytes>
void interleaveFixed(const void* const* channels, unsigned channelCount, size_t frames, void* interleaved)
{
    auto* out = static_cast<uint8_t*>(interleaved);
    const size_t stride = size_t(channelCount) * kBytes;
    for (unsigned c = 0; c < channelCount; ++c) {
        const auto* in = static_cast<const uint8_t*>(channels[c]);
        uint8_t* dst = out + size_t(c) * kBytes;
        for (size_t i = 0; i < frames; ++i, in += kBytes, dst += stride) memcpy(dst, in, kBytes);
    }
}

template <unsigned kBytes>
void deinterleaveFixed(const void* interleaved, unsigned channelCount, size_t frames, void* const* channels)
{
    const auto* in = static_cast<const uint8_t*>(interleaved);
    const size_t stride = size_t(channelCount) * kBytes;
    for (unsigned c = 0; c < channelCount; ++c) {
        auto* out = static_cast<uint8_t*>(channels[c]);
        const uint8_t* src = in + size_t(c) * kBytes;
        for (size_t i = 0; i < frames; ++i, out += kBytes, src += stride) memcpy(out, src, kBytes);
    }
}

}  // namespace

void interleave(const void* const* channels, unsigned channelCount, size_t frames, unsigned bytesPerSample,
                void* interleaved)
{
    if (bytesPerSample == 2) {
        interleaveFixed<2>(channels, channelCount, frames, interleaved);
    } else if (bytesPerSample == 3) {
        interleaveFixed<3>(channels, channelCount, frames, interleaved);
    }
}

void deinterleave(const void* interleaved, unsigned channelCount, size_t frames, unsigned bytesPerSample,
                  void* const* channels)
{
    if (bytesPerSample == 2) {
        deinterleaveFixed<2>(interleaved, channelCount, frames, channels);
    } else if (bytesPerSample == 3) {
        deinterleaveFixed<3>(interleaved, channelCount, frames, channels);
    }
}
