#include "scripteddevice.h"

#include "usb/bus.h"

#include <algorithm>
#include <cstring>

namespace usbtest {

namespace {

usbsim::DescriptorSet ScriptedDescriptors()
{
    usbsim::DescriptorSet set;
    set.device = {18, 1, 0x10, 0x01, 0, 0, 0, 64, 0x1E, 0x3A, 0xF0, 0x7E, 0x00, 0x01, 0, 0, 0, 1};
    set.configuration = {
        9, 2, 53, 0, 1, 1, 0, 0x80, 50,  // configuration, wTotalLength 53, one interface
        9, 4, 0, 0, 5, 0xFF, 0, 0, 0,    // interface 0, alternate 0, five endpoints
        7, 5, kIsoOut, 0x01, kIsoPacketSize & 0xFF, kIsoPacketSize >> 8, 1,
        7, 5, kIsoIn, 0x01, kIsoPacketSize & 0xFF, kIsoPacketSize >> 8, 1,
        7, 5, kBulkOut, 0x02, kBulkPacketSize, 0, 0,
        7, 5, kBulkIn, 0x02, kBulkPacketSize, 0, 0,
        7, 5, kInterruptIn, 0x03, kInterruptPacketSize, 0, 1,
    };
    return set;
}

}  // namespace

ScriptedDevice::ScriptedDevice() : DescriptorDevice(ScriptedDescriptors()) {}

void ScriptedDevice::Attached(usbsim::BusDevice* busDevice)
{
    std::lock_guard lock(m_script);
    m_busDevice = busDevice;
}

void ScriptedDevice::Note()
{
    m_contexts.push_back({std::this_thread::get_id(), KeGetCurrentIrql(),
                          m_busDevice ? m_busDevice->HostBus().CurrentFrame() : 0});
}

void ScriptedDevice::IsochronousOut(UCHAR endpointAddress, ULONG frame, std::span<const uint8_t> packet)
{
    std::lock_guard lock(m_script);
    Note();
    m_isoOut.push_back({endpointAddress, frame, {packet.begin(), packet.end()}});
}

ULONG ScriptedDevice::IsochronousIn(UCHAR, ULONG frame, std::span<uint8_t> buffer)
{
    std::lock_guard lock(m_script);
    Note();
    m_isoInFrames.push_back(frame);
    const ULONG length = std::min<ULONG>(m_isoInLength, ULONG(buffer.size()));
    std::fill_n(buffer.begin(), length, uint8_t(frame));
    return length;
}

bool ScriptedDevice::BulkOut(UCHAR, std::span<const uint8_t> data)
{
    std::lock_guard lock(m_script);
    Note();
    if (!m_acceptOut) return false;
    m_bulkOut.emplace_back(data.begin(), data.end());
    return true;
}

std::optional<ULONG> ScriptedDevice::BulkIn(UCHAR endpointAddress, std::span<uint8_t> buffer,
                                            USBD_STATUS* status)
{
    std::lock_guard lock(m_script);
    Note();
    ++m_inAsked[endpointAddress];
    if (auto failure = m_inFailures.find(endpointAddress); failure != m_inFailures.end()) {
        *status = failure->second;
        m_inFailures.erase(failure);
        return std::nullopt;
    }
    auto& queue = m_inQueues[endpointAddress];
    if (queue.empty()) return std::nullopt;
    std::vector<uint8_t>& packet = queue.front();
    const size_t n = std::min(packet.size(), buffer.size());
    std::copy_n(packet.begin(), n, buffer.begin());
    packet.erase(packet.begin(), packet.begin() + ptrdiff_t(n));
    // A packet longer than the room is served over several reads.
    if (packet.empty()) queue.pop_front();
    return ULONG(n);
}

void ScriptedDevice::SetIsoInLength(ULONG length)
{
    std::lock_guard lock(m_script);
    m_isoInLength = length;
}

void ScriptedDevice::AcceptBulkOut(bool accept)
{
    usbsim::BusDevice* device;
    {
        std::lock_guard lock(m_script);
        m_acceptOut = accept;
        device = m_busDevice;
    }
    if (accept && device) device->Wake();
}

void ScriptedDevice::PushIn(UCHAR endpoint, std::vector<uint8_t> packet)
{
    usbsim::BusDevice* device;
    {
        std::lock_guard lock(m_script);
        m_inQueues[endpoint].push_back(std::move(packet));
        device = m_busDevice;
    }
    if (device) device->Wake();
}

void ScriptedDevice::FailNextIn(UCHAR endpoint, USBD_STATUS status)
{
    usbsim::BusDevice* device;
    {
        std::lock_guard lock(m_script);
        m_inFailures[endpoint] = status;
        device = m_busDevice;
    }
    if (device) device->Wake();
}

std::vector<IsoPacketSeen> ScriptedDevice::IsoOutSeen() const
{
    std::lock_guard lock(m_script);
    return m_isoOut;
}

std::vector<ULONG> ScriptedDevice::IsoInFrames() const
{
    std::lock_guard lock(m_script);
    return m_isoInFrames;
}

std::vector<std::vector<uint8_t>> ScriptedDevice::BulkOutSeen() const
{
    std::lock_guard lock(m_script);
    return m_bulkOut;
}

ULONG ScriptedDevice::BulkInAsked(UCHAR endpoint) const
{
    std::lock_guard lock(m_script);
    auto it = m_inAsked.find(endpoint);
    return it == m_inAsked.end() ? 0 : it->second;
}

std::vector<HookContext> ScriptedDevice::Contexts() const
{
    std::lock_guard lock(m_script);
    return m_contexts;
}

}  // namespace usbtest
