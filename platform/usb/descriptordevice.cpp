#include "usb/descriptordevice.h"

#include "usb/descriptorwalk.h"

namespace usbsim {

namespace {

// USB Audio 1.0 class requests and the endpoint control they address.
constexpr uint8_t kSetCur = 0x01;
constexpr uint8_t kGetCur = 0x81;
constexpr uint16_t kSamplingFrequencyControl = 0x0100;
constexpr size_t kRateBytes = 3;

}  // namespace

std::vector<uint8_t> MakeStringDescriptor(std::u16string_view text)
{
    // bLength is one byte: longer text is cut at the largest even length.
    const size_t chars = std::min<size_t>(text.size(), (255 - 2) / 2);
    std::vector<uint8_t> d{uint8_t(2 + 2 * chars), USB_STRING_DESCRIPTOR_TYPE};
    for (size_t i = 0; i < chars; ++i) {
        d.push_back(uint8_t(text[i]));
        d.push_back(uint8_t(text[i] >> 8));
    }
    return d;
}

std::vector<uint8_t> MakeLanguageList(std::initializer_list<uint16_t> languages)
{
    std::u16string ids;
    for (uint16_t l : languages) ids.push_back(char16_t(l));
    return MakeStringDescriptor(ids);
}

DescriptorDevice::DescriptorDevice(DescriptorSet set) : m_set(std::move(set)) {}

std::span<const uint8_t> DescriptorDevice::DeviceDescriptor() const { return m_set.device; }

std::span<const uint8_t> DescriptorDevice::ConfigurationDescriptor(uint8_t index) const
{
    if (index != 0) return {};
    return m_set.configuration;
}

std::optional<std::vector<uint8_t>> DescriptorDevice::StringDescriptor(uint8_t index,
                                                                       uint16_t) const
{
    // One set of strings serves every language the device lists.
    auto it = m_set.strings.find(index);
    if (it == m_set.strings.end()) return std::nullopt;
    return it->second;
}

bool DescriptorDevice::HasEndpoint(uint8_t endpointAddress) const
{
    const DescriptorRange range =
        ConfigurationRange(m_set.configuration.data(), m_set.configuration.size());
    for (auto* d = range.At(range.begin); d; d = range.Next(d)) {
        const USB_ENDPOINT_DESCRIPTOR* e = AsEndpoint(d);
        if (e && e->bEndpointAddress == endpointAddress) return true;
    }
    return false;
}

USBD_STATUS DescriptorDevice::Control(const ControlRequest& request, std::span<uint8_t> data,
                                      ULONG* transferred)
{
    *transferred = 0;
    const auto endpoint = uint8_t(request.index & 0xFF);
    if (request.kind != ControlRequest::Kind::Class ||
        request.recipient != ControlRequest::Recipient::Endpoint ||
        request.value != kSamplingFrequencyControl || !HasEndpoint(endpoint) ||
        data.size() < kRateBytes)
        return USBD_STATUS_STALL_PID;

    std::lock_guard lock(m_lock);
    if (!request.deviceToHost && request.request == kSetCur) {
        m_samplingFrequency[endpoint] = uint32_t(data[0]) | uint32_t(data[1]) << 8 |
                                        uint32_t(data[2]) << 16;
        *transferred = kRateBytes;
        return USBD_STATUS_SUCCESS;
    }
    if (request.deviceToHost && request.request == kGetCur) {
        auto it = m_samplingFrequency.find(endpoint);
        if (it == m_samplingFrequency.end()) return USBD_STATUS_STALL_PID;  // never set
        const uint32_t rate = it->second;
        data[0] = uint8_t(rate);
        data[1] = uint8_t(rate >> 8);
        data[2] = uint8_t(rate >> 16);
        *transferred = kRateBytes;
        return USBD_STATUS_SUCCESS;
    }
    return USBD_STATUS_STALL_PID;
}

std::optional<uint32_t> DescriptorDevice::SamplingFrequency(uint8_t endpointAddress) const
{
    std::lock_guard lock(m_lock);
    auto it = m_samplingFrequency.find(endpointAddress);
    if (it == m_samplingFrequency.end()) return std::nullopt;
    return it->second;
}

}  // namespace usbsim
