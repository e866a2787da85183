// One channel's host buffer in the driver's sample type, read and written
// as integers of the type's own width, so that what a host writes can be
// compared sample for sample with what comes back.
#pragma once

#include "asiointerface.h"

#include <cstddef>
#include <cstdint>
#include <optional>

class HostSampleType {
public:
    // The little-endian integer and float types; none for the others.
    static std::optional<HostSampleType> Of(ASIOSampleType type);

    ASIOSampleType Type() const { return m_type; }
    unsigned BytesPerSample() const { return m_bytes; }
    // Significant bits; samples range over [-2^(bits-1), 2^(bits-1) - 1].
    unsigned Bits() const { return m_bits; }
    int32_t Max() const { return int32_t((1u << (m_bits - 1)) - 1); }

    int32_t Read(const void* buffer, size_t index) const;
    void Write(void* buffer, size_t index, int32_t value) const;
    const char* Name() const;

private:
    HostSampleType(ASIOSampleType type, unsigned bytes, unsigned bits) : m_type(type), m_bytes(bytes), m_bits(bits) {}
    ASIOSampleType m_type;
    unsigned m_bytes;
    unsigned m_bits;
};

// Full scale of a unit value in a type of the given width.
inline int32_t ScaleToBits(double unit, unsigned bits)
{
    const double max = double((1u << (bits - 1)) - 1);
    const double clamped = unit < -1.0 ? -1.0 : (unit > 1.0 ? 1.0 : unit);
    return int32_t(clamped * max + (clamped < 0 ? -0.5 : 0.5));
}
