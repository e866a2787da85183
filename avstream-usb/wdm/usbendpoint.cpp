#include "usbdevice.h"
#include "usbrequest.h"

NTSTATUS UsbEndpoint::SubmitPipeRequest(USHORT function)
{
    auto* urb = static_cast<PURB>(AllocateBuffer(sizeof(_URB_PIPE_REQUEST)));
    if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
    urb->UrbPipeRequest.Hdr.Length = sizeof(_URB_PIPE_REQUEST);
    urb->UrbPipeRequest.Hdr.Function = function;
    urb->UrbPipeRequest.PipeHandle = m_pipe.PipeHandle;
    NTSTATUS status = SubmitUrb(urb);
    FreeBuffer(urb);
    return status;
}

NTSTATUS UsbEndpoint::AbortPipe()
{
    return SubmitPipeRequest(URB_FUNCTION_ABORT_PIPE);
}

NTSTATUS UsbEndpoint::ResetPipe()
{
    return SubmitPipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL);
}

NTSTATUS UsbEndpoint::SubmitUrb(PURB urb)
{
    PDEVICE_OBJECT lower = Device()->LowerDevice();
    if (!lower) return STATUS_DEVICE_NOT_CONNECTED;
    return SubmitUrbSync(lower, urb);
}

NTSTATUS UsbEndpoint::CallLowerDriver(PIRP irp)
{
    return IoCallDriver(Device()->LowerDevice(), irp);
}

ULONG UsbEndpoint::AudioPacketSize() const
{
    return Device()->AudioPacketSize(m_pipe.MaximumPacketSize);
}

CCHAR UsbEndpoint::LowerStackSize() const
{
    PDEVICE_OBJECT lower = m_parent->Device()->LowerDevice();
    return lower ? lower->StackSize : 1;
}
