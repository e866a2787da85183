// Reading a fuzz input field by field: what is missing at its end reads as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

template <class T>
T Take(const uint8_t*& data, size_t& size)
{
    T value{};
    size_t n = size < sizeof value ? size : sizeof value;
    memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}
