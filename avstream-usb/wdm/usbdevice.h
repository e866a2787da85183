// The driver's model of the attached USB device, built from its descriptors
// and from the interface information the USB stack returns.
#pragma once

#include "kernelobject.h"

#include <usb.h>
#include <usbdlib.h>
#include <usbbusif.h>

constexpr ULONG kMaxInterfaces = 8;
constexpr ULONG kMaxPipes = 32;

class UsbDevice;
class UsbInterface;

// One pipe of the selected alternate setting.
class UsbEndpoint : public KernelObject {
public:
    explicit UsbEndpoint(UsbInterface* parent) : m_parent(parent) {}

    UsbInterface* Interface() const { return m_parent; }
    UsbDevice* Device() const;
    const USBD_PIPE_INFORMATION& Pipe() const { return m_pipe; }
    UCHAR Address() const { return m_pipe.EndpointAddress; }
    // Bit 7 of the address: 0 = OUT (render, MIDI out), 1 = IN.
    ULONG DirectionBit() const { return (m_pipe.EndpointAddress >> 7) & 1; }
    // Null until paired; points into the configuration descriptor.
    PUSB_ENDPOINT_DESCRIPTOR Descriptor() const { return m_descriptor; }
    // The bytes one isochronous audio packet of this pipe may carry.
    ULONG AudioPacketSize() const;

    NTSTATUS AbortPipe();
    NTSTATUS ResetPipe();
    // Synchronous request to the lower device of this endpoint's device.
    NTSTATUS SubmitUrb(PURB urb);
    // Hands an IRP to the lower device; for the streaming engine.
    NTSTATUS CallLowerDriver(PIRP irp);
    // Stack size of the lower device (IRPs for it need one more location).
    CCHAR LowerStackSize() const;

private:
    friend class UsbInterface;
    NTSTATUS SubmitPipeRequest(USHORT function);

    UsbInterface* m_parent;
    USBD_PIPE_INFORMATION m_pipe{};
    PUSB_ENDPOINT_DESCRIPTOR m_descriptor = nullptr;
};

// One interface: the information of the alternate setting last selected,
// its pipes and its descriptors.
class UsbInterface : public KernelObject {
public:
    explicit UsbInterface(UsbDevice* parent) : m_parent(parent) {}
    ~UsbInterface() { Clear(); }

    // False only when the copy of the information cannot be allocated.
    bool InitFromInformation(const USBD_INTERFACE_INFORMATION* information);
    void Clear();

    UsbDevice* Device() const { return m_parent; }
    const USBD_INTERFACE_INFORMATION* Information() const { return m_information; }
    PUSB_INTERFACE_DESCRIPTOR Descriptor() const { return m_descriptor; }
    ULONG PipeCount() const;
    UsbEndpoint* Endpoint(ULONG i) const { return i < kMaxPipes ? m_endpoints[i] : nullptr; }

private:
    void PairEndpointDescriptors();

    UsbDevice* m_parent;
    PUSBD_INTERFACE_INFORMATION m_information = nullptr;
    PUSB_INTERFACE_DESCRIPTOR m_descriptor = nullptr;
    UsbEndpoint* m_endpoints[kMaxPipes] = {};
};

class UsbDevice {
public:
    UsbDevice();
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    NTSTATUS Configure(PDEVICE_OBJECT lowerDevice);
    void Unconfigure();

    NTSTATUS SelectInterface(ULONG index, UCHAR alternateSetting);
    NTSTATUS GetDescriptor(UCHAR type, UCHAR index, USHORT language, PVOID buffer, ULONG length);
    NTSTATUS GetConfigurationDescriptor(UCHAR index);
    NTSTATUS GetStringDescriptor(UCHAR index, PWCHAR buffer, ULONG size, USHORT language);
    // The bus's frame number; 0 without a bus interface record.
    ULONG GetCurrentFrame() const;

    // Interfaces configured; index i is the i-th interface number that has
    // an alternate setting 0, in the order the configuration lists them.
    ULONG InterfaceCount() const { return m_interfaceCount; }
    UsbInterface* GetInterface(ULONG index) const;
    PDEVICE_OBJECT LowerDevice() const { return m_lowerDevice; }
    const USB_DEVICE_DESCRIPTOR& DeviceDescriptor() const { return m_deviceDescriptor; }
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor() const { return m_configuration; }
    ULONG ConfigurationLength() const;
    const USB_BUS_INTERFACE_USBDI_V0* UsbdiInterface() const { return m_usbdi; }
    // The bytes an isochronous audio packet may carry on an endpoint that
    // declares `declared`.
    ULONG AudioPacketSize(ULONG declared) const;

    // The first interface descriptor whose fields equal every argument that
    // is not -1, or null.
    PUSB_INTERFACE_DESCRIPTOR FindInterface(LONG number, LONG alternateSetting, LONG interfaceClass = -1,
                                            LONG subClass = -1, LONG protocol = -1) const;

private:
    // Fills the interface numbers from the configuration descriptor; a
    // number missing from the sequence is passed over, not fatal.
    void FindInterfaceNumbers();
    void FreeConfiguration();
    NTSTATUS SelectConfiguration();

    PDEVICE_OBJECT m_lowerDevice = nullptr;
    PUSB_BUS_INTERFACE_USBDI_V0 m_usbdi = nullptr;
    USB_DEVICE_DESCRIPTOR m_deviceDescriptor{};
    PUSB_CONFIGURATION_DESCRIPTOR m_configuration = nullptr;
    USBD_CONFIGURATION_HANDLE m_configurationHandle = nullptr;
    UsbInterface* m_interfaces[kMaxInterfaces] = {};
    // Written only by Configure (post-start, before any reader) and cleared
    // with the configuration descriptor.
    UCHAR m_interfaceNumbers[kMaxInterfaces] = {};
    ULONG m_interfaceCount = 0;
};
