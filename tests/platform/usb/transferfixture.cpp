#include "transferfixture.h"

namespace usbtest {

TransferTest::TransferTest()
    : device(new ScriptedDevice),
      busDevice(bus.Plug(std::unique_ptr<usbsim::VirtualDevice>(device))),
      config(std::make_unique<Configuration>(busDevice.Pdo()))
{
    EXPECT_EQ(config->Status(), STATUS_SUCCESS);
}

IsoRequest::IsoRequest(USBD_PIPE_HANDLE pipe, bool in, ULONG packets, ULONG bytesPerPacket,
                       ULONG startFrame)
    : m_urb(GET_ISO_URB_SIZE(packets)), m_data(size_t(packets) * bytesPerPacket)
{
    auto& t = Iso();
    t.Hdr.Length = USHORT(GET_ISO_URB_SIZE(packets));
    t.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    t.PipeHandle = pipe;
    t.TransferFlags = (in ? USBD_TRANSFER_DIRECTION_IN : 0) |
                      (startFrame ? 0 : USBD_START_ISO_TRANSFER_ASAP);
    t.StartFrame = startFrame;
    t.TransferBuffer = m_data.data();
    t.TransferBufferLength = ULONG(m_data.size());
    t.NumberOfPackets = packets;
    for (ULONG k = 0; k < packets; ++k) {
        Packet(k).Offset = k * bytesPerPacket;
        Packet(k).Length = in ? 0 : bytesPerPacket;
    }
}

BulkRequest::BulkRequest(USBD_PIPE_HANDLE pipe, bool in, ULONG length, bool shortOk) : data(length)
{
    BuildBulkTransfer(&urb, pipe, data.data(), length, in);
    if (!shortOk) urb.UrbBulkOrInterruptTransfer.TransferFlags &= ~ULONG(USBD_SHORT_TRANSFER_OK);
}

BulkRequest::BulkRequest(USBD_PIPE_HANDLE pipe, std::vector<uint8_t> bytes) : data(std::move(bytes))
{
    BuildBulkTransfer(&urb, pipe, data.data(), ULONG(data.size()), false);
}

}  // namespace usbtest
