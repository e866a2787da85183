#include "hostsamples.h"

#include <cstring>

std::optional<HostSampleType> HostSampleType::Of(ASIOSampleType type)
{
    switch (type) {
    case ASIOSTInt16LSB: return HostSampleType(type, 2, 16);
    case ASIOSTInt24LSB: return HostSampleType(type, 3, 24);
    case ASIOSTInt32LSB: return HostSampleType(type, 4, 32);
    case ASIOSTInt32LSB24: return HostSampleType(type, 4, 24);
    case ASIOSTInt32LSB16: return HostSampleType(type, 4, 16);
    // Floats carry 24 significant bits here: the host's integers map onto
    // [-1, 1] exactly and back.
    case ASIOSTFloat32LSB: return HostSampleType(type, 4, 24);
    default: return std::nullopt;
    }
}

int32_t HostSampleType::Read(const void* buffer, size_t index) const
{
    const uint8_t* p = static_cast<const uint8_t*>(buffer) + index * m_bytes;
    switch (m_type) {
    case ASIOSTInt16LSB: return int16_t(uint16_t(p[0] | p[1] << 8));
    case ASIOSTInt24LSB: return int32_t(uint32_t(p[0] << 8 | p[1] << 16 | p[2] << 24)) >> 8;
    case ASIOSTFloat32LSB: {
        float value;
        memcpy(&value, p, 4);
        return ScaleToBits(value, 24);
    }
    default: {
        int32_t value;
        memcpy(&value, p, 4);
        return value;
    }
    }
}

void HostSampleType::Write(void* buffer, size_t index, int32_t value) const
{
    uint8_t* p = static_cast<uint8_t*>(buffer) + index * m_bytes;
    switch (m_type) {
    case ASIOSTInt16LSB:
        p[0] = uint8_t(value);
        p[1] = uint8_t(value >> 8);
        break;
    case ASIOSTInt24LSB:
        p[0] = uint8_t(value);
        p[1] = uint8_t(value >> 8);
        p[2] = uint8_t(value >> 16);
        break;
    case ASIOSTFloat32LSB: {
        const float unit = float(double(value) / double(Max()));
        memcpy(p, &unit, 4);
        break;
    }
    default: memcpy(p, &value, 4); break;
    }
}

const char* HostSampleType::Name() const
{
    switch (m_type) {
    case ASIOSTInt16LSB: return "Int16LSB";
    case ASIOSTInt24LSB: return "Int24LSB";
    case ASIOSTInt32LSB: return "Int32LSB";
    case ASIOSTInt32LSB24: return "Int32LSB24";
    case ASIOSTInt32LSB16: return "Int32LSB16";
    case ASIOSTFloat32LSB: return "Float32LSB";
    default: return "?";
    }
}
