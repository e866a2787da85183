// Audio samples as they travel on the wire: 24-bit signed, little-endian,
// three bytes each, frames interleaved by channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hardware {

constexpr size_t kBytesPerSample = 3;
constexpr int32_t kSampleMax = 0x7FFFFF;
constexpr int32_t kSampleMin = -0x800000;

inline int32_t ReadSample24(const uint8_t* p)
{
    const uint32_t raw = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return int32_t(raw ^ 0x800000) - 0x800000;  // sign-extend bit 23
}

// Values outside 24 bits keep their low 24 bits (two's complement wrap).
inline void WriteSample24(uint8_t* p, int32_t value)
{
    const auto raw = uint32_t(value);
    p[0] = uint8_t(raw);
    p[1] = uint8_t(raw >> 8);
    p[2] = uint8_t(raw >> 16);
}

// The value a wire sample holds after wrapping to 24 bits.
inline int32_t Wrap24(int64_t value)
{
    return int32_t((uint32_t(uint64_t(value)) & 0xFFFFFF) ^ 0x800000) - 0x800000;
}

// Every whole sample of bytes; a trailing partial sample is left out.
inline std::vector<int32_t> DecodeSamples24(std::span<const uint8_t> bytes)
{
    std::vector<int32_t> samples;
    samples.reserve(bytes.size() / kBytesPerSample);
    for (size_t i = 0; i + kBytesPerSample <= bytes.size(); i += kBytesPerSample)
        samples.push_back(ReadSample24(bytes.data() + i));
    return samples;
}

}  // namespace hardware
