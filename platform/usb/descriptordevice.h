// A virtual device made of descriptor bytes: what the Marvolan models are,
// and what tests and fuzz targets use to serve arbitrary (hostile) sets.
#pragma once

#include "usb/virtualdevice.h"

#include <map>
#include <mutex>
#include <string>

namespace usbsim {

struct DescriptorSet {
    std::vector<uint8_t> device;         // served as is, even when not 18 bytes
    std::vector<uint8_t> configuration;  // configuration 0, served as is
    std::map<uint8_t, std::vector<uint8_t>> strings;  // index -> whole descriptor
};

// A string descriptor for text (UTF-16LE). Index 0 holds the language list
// instead: LanguageList({0x0409}).
std::vector<uint8_t> MakeStringDescriptor(std::u16string_view text);
std::vector<uint8_t> MakeLanguageList(std::initializer_list<uint16_t> languages);

class DescriptorDevice : public VirtualDevice {
public:
    explicit DescriptorDevice(DescriptorSet set);

    std::span<const uint8_t> DeviceDescriptor() const override;
    std::span<const uint8_t> ConfigurationDescriptor(uint8_t index) const override;
    std::optional<std::vector<uint8_t>> StringDescriptor(uint8_t index,
                                                         uint16_t language) const override;

    // Audio-class sampling frequency control on endpoints (SET_CUR/GET_CUR,
    // 3-byte little-endian rate); anything else stalls.
    USBD_STATUS Control(const ControlRequest& request, std::span<uint8_t> data,
                        ULONG* transferred) override;

    // The rate last set on an endpoint address, if any.
    std::optional<uint32_t> SamplingFrequency(uint8_t endpointAddress) const;

    const DescriptorSet& Descriptors() const { return m_set; }

private:
    bool HasEndpoint(uint8_t endpointAddress) const;

    DescriptorSet m_set;
    mutable std::mutex m_lock;
    std::map<uint8_t, uint32_t> m_samplingFrequency;
};

}  // namespace usbsim
