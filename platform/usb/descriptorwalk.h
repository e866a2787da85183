// Bounds-checked walking of USB descriptor byte streams. Shared by the USBD
// library and the bus, which both run on descriptors a device (or a fuzzer)
// made up: nothing here reads a byte outside [begin, end).
#pragma once

#include <usb100.h>

#include <cstddef>
#include <cstdint>

namespace usbsim {

struct DescriptorRange {
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;

    bool Contains(const void* p) const
    {
        auto* b = static_cast<const uint8_t*>(p);
        return b >= begin && b < end;
    }
    // The descriptor at p if its header and its whole bLength lie inside the
    // range; null for a zero or one-byte bLength (the walk cannot advance) or
    // an overrun.
    const USB_COMMON_DESCRIPTOR* At(const uint8_t* p) const
    {
        if (!Contains(p) || end - p < 2) return nullptr;
        const uint8_t length = p[0];
        if (length < 2 || length > end - p) return nullptr;
        return reinterpret_cast<const USB_COMMON_DESCRIPTOR*>(p);
    }
    // The descriptor after d, or null at the end of the walk.
    const USB_COMMON_DESCRIPTOR* Next(const USB_COMMON_DESCRIPTOR* d) const
    {
        return At(reinterpret_cast<const uint8_t*>(d) + d->bLength);
    }
};

// The bytes a configuration descriptor claims: its wTotalLength, clipped to
// the bytes actually available. Empty when even the 9-byte header is short.
inline DescriptorRange ConfigurationRange(const void* configuration, size_t available)
{
    auto* p = static_cast<const uint8_t*>(configuration);
    if (!p || available < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return {};
    size_t total = size_t(p[2]) | size_t(p[3]) << 8;
    if (total > available) total = available;
    if (total < sizeof(USB_CONFIGURATION_DESCRIPTOR)) return {};
    return {p, p + total};
}

// An interface descriptor at d, if it is long enough to hold every field.
inline const USB_INTERFACE_DESCRIPTOR* AsInterface(const USB_COMMON_DESCRIPTOR* d)
{
    if (!d || d->bDescriptorType != USB_INTERFACE_DESCRIPTOR_TYPE ||
        d->bLength < sizeof(USB_INTERFACE_DESCRIPTOR))
        return nullptr;
    return reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(d);
}

inline const USB_ENDPOINT_DESCRIPTOR* AsEndpoint(const USB_COMMON_DESCRIPTOR* d)
{
    if (!d || d->bDescriptorType != USB_ENDPOINT_DESCRIPTOR_TYPE ||
        d->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR))
        return nullptr;
    return reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(d);
}

// The first interface descriptor at or after start matching every argument
// that is not -1.
inline const USB_INTERFACE_DESCRIPTOR* FindInterface(const DescriptorRange& range,
                                                     const uint8_t* start, long number,
                                                     long alternate, long cls, long subClass,
                                                     long protocol)
{
    for (auto* d = range.At(start); d; d = range.Next(d)) {
        const USB_INTERFACE_DESCRIPTOR* i = AsInterface(d);
        if (!i) continue;
        if ((number == -1 || i->bInterfaceNumber == number) &&
            (alternate == -1 || i->bAlternateSetting == alternate) &&
            (cls == -1 || i->bInterfaceClass == cls) &&
            (subClass == -1 || i->bInterfaceSubClass == subClass) &&
            (protocol == -1 || i->bInterfaceProtocol == protocol))
            return i;
    }
    return nullptr;
}

}  // namespace usbsim
