// A bus with the scripted device plugged and configured, and the requests
// the transfer tests send.
#pragma once

#include "scripteddevice.h"
#include "urbclient.h"

#include <gtest/gtest.h>

#include <memory>

namespace usbtest {

class TransferTest : public testing::Test {
protected:
    TransferTest();

    USBD_PIPE_HANDLE Pipe(PipeIndex index) const { return config->Pipe(0, index).PipeHandle; }
    usbsim::TransferCounts Counts(UCHAR endpoint) const { return bus.Transfers(busDevice, endpoint); }

    usbsim::Bus bus;
    ScriptedDevice* device;  // owned by the bus
    usbsim::BusDevice& busDevice;
    std::unique_ptr<Configuration> config;
};

// An isochronous request with its own buffer: `packets` packets of
// `bytesPerPacket` each, back to back. startFrame 0 asks for ASAP.
class IsoRequest {
public:
    IsoRequest(USBD_PIPE_HANDLE pipe, bool in, ULONG packets, ULONG bytesPerPacket, ULONG startFrame);
    PURB Urb() { return m_urb.Get(); }
    _URB_ISOCH_TRANSFER& Iso() { return m_urb->UrbIsochronousTransfer; }
    USBD_ISO_PACKET_DESCRIPTOR& Packet(ULONG k)
    {
        USBD_ISO_PACKET_DESCRIPTOR* packets = Iso().IsoPacket;  // runs past the declared array
        return packets[k];
    }
    std::vector<uint8_t>& Data() { return m_data; }

private:
    UrbBuffer m_urb;
    std::vector<uint8_t> m_data;
};

// A bulk or interrupt request with its own buffer.
struct BulkRequest {
    BulkRequest(USBD_PIPE_HANDLE pipe, bool in, ULONG length, bool shortOk = true);
    BulkRequest(USBD_PIPE_HANDLE pipe, std::vector<uint8_t> bytes);  // OUT
    URB urb{};
    std::vector<uint8_t> data;
    std::vector<uint8_t> Received() const
    {
        return {data.begin(), data.begin() + urb.UrbBulkOrInterruptTransfer.TransferBufferLength};
    }
};

}  // namespace usbtest
