#include "usb/busdevice.h"

#include "km/verifier.h"
#include "usb/bus.h"
#include "usb/descriptorwalk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace usbsim {

namespace {

bool IsTransfer(USHORT function)
{
    return function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER ||
           function == URB_FUNCTION_ISOCH_TRANSFER;
}

bool IsPipeRequest(USHORT function)
{
    return function == URB_FUNCTION_ABORT_PIPE ||
           function == URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL ||
           function == URB_FUNCTION_SYNC_RESET_PIPE || function == URB_FUNCTION_SYNC_CLEAR_STALL;
}

bool IsClassOrVendor(USHORT function)
{
    return (function >= URB_FUNCTION_VENDOR_DEVICE && function <= URB_FUNCTION_CLASS_ENDPOINT) ||
           function == URB_FUNCTION_CLASS_OTHER || function == URB_FUNCTION_VENDOR_OTHER;
}

// Class and vendor requests to an interface or endpoint need a configuration.
bool NeedsConfiguration(USHORT function)
{
    return function == URB_FUNCTION_SELECT_INTERFACE || IsPipeRequest(function) ||
           IsTransfer(function) || function == URB_FUNCTION_CLASS_INTERFACE ||
           function == URB_FUNCTION_CLASS_ENDPOINT || function == URB_FUNCTION_VENDOR_INTERFACE ||
           function == URB_FUNCTION_VENDOR_ENDPOINT;
}

USBD_PIPE_HANDLE PipeOf(const URB& urb)
{
    switch (urb.UrbHeader.Function) {
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return urb.UrbBulkOrInterruptTransfer.PipeHandle;
    case URB_FUNCTION_ISOCH_TRANSFER:
        return urb.UrbIsochronousTransfer.PipeHandle;
    default:
        return urb.UrbPipeRequest.PipeHandle;
    }
}

std::string Hex(ULONG value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(value));
    return text;
}

}  // namespace

NTSTATUS NtStatusFromUsbd(USBD_STATUS status)
{
    switch (status) {
    case USBD_STATUS_SUCCESS: return STATUS_SUCCESS;
    case USBD_STATUS_PENDING: return STATUS_PENDING;
    case USBD_STATUS_INVALID_URB_FUNCTION:
    case USBD_STATUS_INVALID_PARAMETER:
    case USBD_STATUS_INVALID_PIPE_HANDLE:
    case USBD_STATUS_INTERFACE_NOT_FOUND:
        return STATUS_INVALID_PARAMETER;
    case USBD_STATUS_INSUFFICIENT_RESOURCES: return STATUS_INSUFFICIENT_RESOURCES;
    case USBD_STATUS_NOT_SUPPORTED: return STATUS_NOT_SUPPORTED;
    case USBD_STATUS_BUFFER_TOO_SMALL: return STATUS_BUFFER_TOO_SMALL;
    case USBD_STATUS_DEVICE_GONE: return STATUS_DEVICE_NOT_CONNECTED;
    case USBD_STATUS_CANCELED: return STATUS_CANCELLED;
    case USBD_STATUS_TIMEOUT: return STATUS_TIMEOUT;
    default: return STATUS_UNSUCCESSFUL;
    }
}

BusDevice::BusDevice(Bus& bus, std::unique_ptr<VirtualDevice> device, ULONG address)
    : m_bus(bus), m_device(std::move(device)), m_address(address)
{
    const std::span<const uint8_t> bytes = m_device->ConfigurationDescriptor(0);
    const DescriptorRange range = ConfigurationRange(bytes.data(), bytes.size());
    // A set without a configuration header has nothing to select.
    if (range.begin && range.begin[1] == USB_CONFIGURATION_DESCRIPTOR_TYPE) {
        m_configuration.assign(range.begin, range.end);
        m_configuration[2] = uint8_t(m_configuration.size());
        m_configuration[3] = uint8_t(m_configuration.size() >> 8);
    }
}

BusDevice::~BusDevice() = default;

USHORT BusDevice::VendorId() const
{
    const std::span<const uint8_t> d = m_device->DeviceDescriptor();
    return d.size() >= 10 ? USHORT(d[8] | d[9] << 8) : 0;
}

USHORT BusDevice::ProductId() const
{
    const std::span<const uint8_t> d = m_device->DeviceDescriptor();
    return d.size() >= 12 ? USHORT(d[10] | d[11] << 8) : 0;
}

std::string BusDevice::HardwareId() const
{
    char id[32];
    std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X", VendorId(), ProductId());
    return id;
}

void BusDevice::Wake() { m_bus.RetryTransfers(*this); }

void BusDevice::SetCompletionMode(CompletionMode mode)
{
    std::lock_guard lock(m_lock);
    m_mode = mode;
}

CompletionMode BusDevice::Mode() const
{
    std::lock_guard lock(m_lock);
    return m_mode;
}

void BusDevice::RejectAlternateSetting(UCHAR interfaceNumber, UCHAR alternateSetting, ULONG times)
{
    std::lock_guard lock(m_lock);
    m_rejections.push_back({interfaceNumber, alternateSetting, times});
}

void BusDevice::InjectFault(const RequestFault& fault)
{
    std::lock_guard lock(m_lock);
    m_faults.emplace_back(fault, fault.nth ? fault.nth - 1 : 0);
}

void BusDevice::ClearFaults()
{
    std::lock_guard lock(m_lock);
    m_faults.clear();
    m_rejections.clear();
}

std::vector<UrbRecord> BusDevice::Log() const
{
    std::lock_guard lock(m_lock);
    return m_log;
}

void BusDevice::ClearLog()
{
    std::lock_guard lock(m_lock);
    m_log.clear();
}

ULONG BusDevice::RequestCount() const
{
    std::lock_guard lock(m_lock);
    return ULONG(m_log.size());
}

ULONG BusDevice::RequestCount(USHORT function) const
{
    std::lock_guard lock(m_lock);
    return ULONG(std::count_if(m_log.begin(), m_log.end(),
                               [&](const UrbRecord& r) { return r.function == function; }));
}

bool BusDevice::Connected() const
{
    std::lock_guard lock(m_lock);
    return m_connected;
}

bool BusDevice::Configured() const
{
    std::lock_guard lock(m_lock);
    return m_configurationHandle != nullptr;
}

std::optional<UCHAR> BusDevice::CurrentAlternateSetting(UCHAR interfaceNumber) const
{
    std::lock_guard lock(m_lock);
    auto it = m_interfaces.find(interfaceNumber);
    if (it == m_interfaces.end()) return std::nullopt;
    return it->second.alternateSetting;
}

std::optional<uint32_t> BusDevice::SamplingFrequency(UCHAR endpointAddress) const
{
    // Read back the way a host would: GET_CUR of the sampling frequency control.
    ControlRequest request;
    request.recipient = ControlRequest::Recipient::Endpoint;
    request.deviceToHost = true;
    request.request = 0x81;
    request.value = 0x0100;
    request.index = endpointAddress;
    uint8_t rate[3] = {};
    ULONG transferred = 0;
    std::lock_guard lock(m_lock);
    if (!USBD_SUCCESS(m_device->Control(request, rate, &transferred)) || transferred != 3)
        return std::nullopt;
    return uint32_t(rate[0]) | uint32_t(rate[1]) << 8 | uint32_t(rate[2]) << 16;
}

LONG BusDevice::InterfaceReferences() const
{
    std::lock_guard lock(m_lock);
    return m_references;
}

void BusDevice::MarkDisconnected()
{
    std::lock_guard lock(m_lock);
    m_connected = false;
}

void BusDevice::Reference()
{
    std::lock_guard lock(m_lock);
    ++m_references;
}

void BusDevice::Dereference()
{
    bool underflow;
    {
        std::lock_guard lock(m_lock);
        underflow = m_references == 0;
        if (!underflow) --m_references;
    }
    if (underflow)
        kmsim::ReportViolation("usb", "InterfaceDereference on a USBDI bus interface with no references");
}

// ---------------------------------------------------------------------------
// Accepting a request
// ---------------------------------------------------------------------------

BusDevice::Decision BusDevice::Accept(URB& urb)
{
    std::optional<std::string> violation;
    Decision decision;
    {
        std::lock_guard lock(m_lock);
        if (!m_connected) return {Disposition::Complete, Failure(USBD_STATUS_DEVICE_GONE)};
        const USHORT function = urb.UrbHeader.Function;
        if ((violation = LengthProblem(urb))) {
            UrbRecord header;
            header.function = function;
            header.length = urb.UrbHeader.Length;
            m_log.push_back(header);
            decision = {Disposition::Complete, Failure(USBD_STATUS_INVALID_PARAMETER)};
        } else {
            Record(urb);
            if ((violation = StateProblem(urb))) {
                const bool pipe = IsPipeRequest(function) || IsTransfer(function);
                decision = {Disposition::Complete,
                            Failure(pipe ? USBD_STATUS_INVALID_PIPE_HANDLE
                                         : USBD_STATUS_INVALID_PARAMETER)};
            } else if (std::optional<RequestFault> fault = ConsumeFault(function)) {
                const UrbResult result{fault->status, fault->usbdStatus, nullptr, {}};
                switch (fault->action) {
                case RequestFault::Action::Fail:
                    decision = {Disposition::Complete, result};
                    break;
                case RequestFault::Action::FailAfterPending:
                    decision = {Disposition::FailAfterPending, result};
                    break;
                case RequestFault::Action::NeverComplete:
                    decision = {Disposition::Hold, {}};
                    break;
                }
            } else if (IsTransfer(function)) {
                decision = {Disposition::Transfer, {}};
            } else {
                decision = {Disposition::Serve, {}};
            }
        }
    }
    if (violation) kmsim::ReportViolation("urb", *violation);
    return decision;
}

std::optional<std::string> BusDevice::LengthProblem(const URB& urb) const
{
    const USHORT function = urb.UrbHeader.Function;
    const size_t length = urb.UrbHeader.Length;
    const std::string what = "URB function " + Hex(function) + " with Length " +
                             std::to_string(length);
    auto expect = [&](size_t size) -> std::optional<std::string> {
        if (length == size) return std::nullopt;
        return what + ", expected " + std::to_string(size);
    };
    if (length < sizeof(_URB_HEADER)) return what + ", shorter than the URB header";

    switch (function) {
    case URB_FUNCTION_SELECT_CONFIGURATION: {
        const auto& request = urb.UrbSelectConfiguration;
        if (!request.ConfigurationDescriptor) return expect(sizeof(_URB_SELECT_CONFIGURATION));
        // The interface records must tile the rest of the request exactly.
        size_t offset = FIELD_OFFSET(_URB_SELECT_CONFIGURATION, Interface);
        const size_t fixed = FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes);
        if (length < offset + fixed) return what + ", too short for one interface record";
        auto* base = reinterpret_cast<const uint8_t*>(&urb);
        while (offset < length) {
            if (length - offset < fixed)
                return what + ", ends inside an interface record's header";
            const auto* info = reinterpret_cast<const USBD_INTERFACE_INFORMATION*>(base + offset);
            if (info->Length < fixed || info->Length > length - offset)
                return what + ", interface record of Length " + std::to_string(info->Length) +
                       " at offset " + std::to_string(offset) + " does not fit";
            if (info->Length != GET_USBD_INTERFACE_SIZE(info->NumberOfPipes))
                return what + ", interface record of Length " + std::to_string(info->Length) +
                       " for " + std::to_string(info->NumberOfPipes) + " pipes";
            offset += info->Length;
        }
        return std::nullopt;
    }
    case URB_FUNCTION_SELECT_INTERFACE: {
        if (length < FIELD_OFFSET(_URB_SELECT_INTERFACE, Interface.Pipes))
            return what + ", too short for the interface record";
        const auto& info = urb.UrbSelectInterface.Interface;
        const DescriptorRange range = ConfigurationRange(m_configuration.data(), m_configuration.size());
        const USB_INTERFACE_DESCRIPTOR* d = FindInterface(range, range.begin, info.InterfaceNumber,
                                                          info.AlternateSetting, -1, -1, -1);
        if (!d) return std::nullopt;  // no such setting: the request fails, it is not malformed
        const size_t pipes = d->bNumEndpoints;
        if (auto problem = expect(GET_SELECT_INTERFACE_REQUEST_SIZE(pipes)))
            return *problem + " for an interface with " + std::to_string(pipes) + " endpoints";
        if (info.Length != GET_USBD_INTERFACE_SIZE(pipes))
            return what + ", Interface.Length " + std::to_string(info.Length) + ", expected " +
                   std::to_string(GET_USBD_INTERFACE_SIZE(pipes));
        return std::nullopt;
    }
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        return expect(sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST));
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
    case URB_FUNCTION_SYNC_RESET_PIPE:
    case URB_FUNCTION_SYNC_CLEAR_STALL:
        return expect(sizeof(_URB_PIPE_REQUEST));
    case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
        return expect(sizeof(_URB_GET_CURRENT_FRAME_NUMBER));
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return expect(sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER));
    case URB_FUNCTION_ISOCH_TRANSFER: {
        if (length < FIELD_OFFSET(_URB_ISOCH_TRANSFER, IsoPacket))
            return what + ", too short for an isochronous transfer";
        const size_t packets = urb.UrbIsochronousTransfer.NumberOfPackets;
        const size_t exact = sizeof(_URB_ISOCH_TRANSFER) +
                             (packets ? packets - 1 : 0) * sizeof(USBD_ISO_PACKET_DESCRIPTOR);
        if (length == exact || length == GET_ISO_URB_SIZE(packets)) return std::nullopt;
        return what + " for " + std::to_string(packets) + " packets, expected " +
               std::to_string(exact) + " or " + std::to_string(GET_ISO_URB_SIZE(packets));
    }
    default:
        if (IsClassOrVendor(function)) return expect(sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
        return std::nullopt;
    }
}

std::optional<std::string> BusDevice::StateProblem(const URB& urb) const
{
    const USHORT function = urb.UrbHeader.Function;
    if (!NeedsConfiguration(function)) return std::nullopt;
    if (!m_configurationHandle)
        return "URB function " + Hex(function) + " sent to a device that is not configured";
    if (function == URB_FUNCTION_SELECT_INTERFACE &&
        urb.UrbSelectInterface.ConfigurationHandle != m_configurationHandle)
        return "select interface with a configuration handle the bus did not hand out for the "
               "current configuration";
    if ((IsPipeRequest(function) || IsTransfer(function)) && !FindPipe(PipeOf(urb)))
        return "URB function " + Hex(function) +
               " with a pipe handle the bus did not hand out for the current configuration";
    return std::nullopt;
}

const BusDevice::Pipe* BusDevice::FindPipe(USBD_PIPE_HANDLE handle) const
{
    if (!handle) return nullptr;
    for (const auto& [number, iface] : m_interfaces)
        for (const Pipe& pipe : iface.pipes)
            if (pipe.handle == handle) return &pipe;
    return nullptr;
}

std::optional<PipeEndpoint> BusDevice::Endpoint(USBD_PIPE_HANDLE handle) const
{
    std::lock_guard lock(m_lock);
    if (const Pipe* pipe = FindPipe(handle)) return *pipe;
    return std::nullopt;
}

bool BusDevice::ConsumeRejection(UCHAR interfaceNumber, UCHAR alternateSetting)
{
    for (AlternateRejection& r : m_rejections) {
        if (r.interfaceNumber != interfaceNumber || r.alternateSetting != alternateSetting ||
            r.remaining == 0)
            continue;
        if (r.remaining != kAlways) --r.remaining;
        return true;
    }
    return false;
}

std::optional<RequestFault> BusDevice::ConsumeFault(USHORT function)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        auto& [fault, skip] = *it;
        if (fault.function && *fault.function != function) continue;
        if (skip > 0) {
            --skip;
            continue;
        }
        const RequestFault hit = fault;
        m_faults.erase(it);
        return hit;
    }
    return std::nullopt;
}

void BusDevice::Record(const URB& urb)
{
    UrbRecord r;
    r.function = urb.UrbHeader.Function;
    r.length = urb.UrbHeader.Length;
    switch (r.function) {
    case URB_FUNCTION_SELECT_CONFIGURATION:
        r.nullConfiguration = urb.UrbSelectConfiguration.ConfigurationDescriptor == nullptr;
        if (!r.nullConfiguration) {
            r.interfaceNumber = urb.UrbSelectConfiguration.Interface.InterfaceNumber;
            r.alternateSetting = urb.UrbSelectConfiguration.Interface.AlternateSetting;
        }
        break;
    case URB_FUNCTION_SELECT_INTERFACE:
        r.interfaceNumber = urb.UrbSelectInterface.Interface.InterfaceNumber;
        r.alternateSetting = urb.UrbSelectInterface.Interface.AlternateSetting;
        break;
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        r.descriptorType = urb.UrbControlDescriptorRequest.DescriptorType;
        r.descriptorIndex = urb.UrbControlDescriptorRequest.Index;
        r.languageId = urb.UrbControlDescriptorRequest.LanguageId;
        r.transferLength = urb.UrbControlDescriptorRequest.TransferBufferLength;
        break;
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        r.transferFlags = urb.UrbBulkOrInterruptTransfer.TransferFlags;
        r.transferLength = urb.UrbBulkOrInterruptTransfer.TransferBufferLength;
        break;
    case URB_FUNCTION_ISOCH_TRANSFER:
        r.transferFlags = urb.UrbIsochronousTransfer.TransferFlags;
        r.transferLength = urb.UrbIsochronousTransfer.TransferBufferLength;
        r.startFrame = urb.UrbIsochronousTransfer.StartFrame;
        r.packets = urb.UrbIsochronousTransfer.NumberOfPackets;
        break;
    default:
        if (IsClassOrVendor(r.function)) {
            const auto& c = urb.UrbControlVendorClassRequest;
            r.transferFlags = c.TransferFlags;
            r.transferLength = c.TransferBufferLength;
            r.request = c.Request;
            r.value = c.Value;
            r.index = c.Index;
            if (!(c.TransferFlags & USBD_TRANSFER_DIRECTION_IN) && c.TransferBuffer) {
                auto* data = static_cast<const uint8_t*>(c.TransferBuffer);
                r.payload.assign(data, data + c.TransferBufferLength);
            }
        }
        break;
    }
    if (IsPipeRequest(r.function) || IsTransfer(r.function)) {
        r.pipe = PipeOf(urb);
        if (const Pipe* pipe = FindPipe(r.pipe)) r.endpointAddress = pipe->address;
    }
    m_log.push_back(std::move(r));
}

// ---------------------------------------------------------------------------
// Serving a request
// ---------------------------------------------------------------------------

UrbResult BusDevice::Serve(URB& urb)
{
    std::lock_guard lock(m_lock);
    if (!m_connected) return Failure(USBD_STATUS_DEVICE_GONE);
    const USHORT function = urb.UrbHeader.Function;
    switch (function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        return ServeDescriptor(urb.UrbControlDescriptorRequest);
    case URB_FUNCTION_SELECT_CONFIGURATION:
        return ServeSelectConfiguration(urb);
    case URB_FUNCTION_SELECT_INTERFACE:
        return ServeSelectInterface(urb.UrbSelectInterface);
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
    case URB_FUNCTION_SYNC_RESET_PIPE:
        // A reset pipe starts over: nothing stays queued on it.
        return {STATUS_SUCCESS, USBD_STATUS_SUCCESS, urb.UrbPipeRequest.PipeHandle, {}};
    case URB_FUNCTION_SYNC_CLEAR_STALL:
        return {};
    case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
        urb.UrbGetCurrentFrameNumber.FrameNumber = m_bus.CurrentFrame();
        return {};
    default:
        if (IsClassOrVendor(function))
            return ServeControl(urb.UrbControlVendorClassRequest, function);
        return Failure(USBD_STATUS_INVALID_URB_FUNCTION);
    }
}

UrbResult BusDevice::ServeDescriptor(_URB_CONTROL_DESCRIPTOR_REQUEST& request)
{
    const ULONG capacity = request.TransferBufferLength;
    request.TransferBufferLength = 0;
    if (capacity && !request.TransferBuffer) return Failure(USBD_STATUS_INVALID_PARAMETER);

    std::optional<std::vector<uint8_t>> string;
    std::span<const uint8_t> bytes;
    switch (request.DescriptorType) {
    case USB_DEVICE_DESCRIPTOR_TYPE:
        if (request.Index == 0) bytes = m_device->DeviceDescriptor();
        break;
    case USB_CONFIGURATION_DESCRIPTOR_TYPE:
        bytes = m_device->ConfigurationDescriptor(request.Index);
        break;
    case USB_STRING_DESCRIPTOR_TYPE:
        string = m_device->StringDescriptor(request.Index, request.LanguageId);
        if (string) bytes = *string;
        break;
    default:
        break;
    }
    if (bytes.empty()) return Failure(USBD_STATUS_STALL_PID);
    // A request for more than there is returns what there is.
    const size_t n = std::min<size_t>(capacity, bytes.size());
    if (n) std::memcpy(request.TransferBuffer, bytes.data(), n);
    request.TransferBufferLength = ULONG(n);
    return {};
}

UrbResult BusDevice::Describe(USBD_INTERFACE_INFORMATION& info, size_t available, Interface& out)
{
    const DescriptorRange range = ConfigurationRange(m_configuration.data(), m_configuration.size());
    const USB_INTERFACE_DESCRIPTOR* d = FindInterface(range, range.begin, info.InterfaceNumber,
                                                      info.AlternateSetting, -1, -1, -1);
    if (!d) return Failure(USBD_STATUS_INTERFACE_NOT_FOUND);

    std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
    for (auto* c = range.Next(reinterpret_cast<const USB_COMMON_DESCRIPTOR*>(d));
         c && c->bDescriptorType != USB_INTERFACE_DESCRIPTOR_TYPE; c = range.Next(c)) {
        if (const USB_ENDPOINT_DESCRIPTOR* e = AsEndpoint(c)) endpoints.push_back(e);
    }
    if (endpoints.size() != d->bNumEndpoints)
        return Failure(USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);
    if (FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes) +
            endpoints.size() * sizeof(USBD_PIPE_INFORMATION) > available)
        return Failure(USBD_STATUS_BUFFER_TOO_SMALL);
    if (ConsumeRejection(d->bInterfaceNumber, d->bAlternateSetting))
        return Failure(USBD_STATUS_NO_BANDWIDTH);

    out.alternateSetting = d->bAlternateSetting;
    out.handle = NewUsbHandle();
    out.pipes.clear();
    info.Class = d->bInterfaceClass;
    info.SubClass = d->bInterfaceSubClass;
    info.Protocol = d->bInterfaceProtocol;
    info.InterfaceHandle = out.handle;
    info.NumberOfPipes = ULONG(endpoints.size());
    // The records run past the declared one-element array.
    auto* pipes = reinterpret_cast<USBD_PIPE_INFORMATION*>(
        reinterpret_cast<uint8_t*>(&info) + FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes));
    for (size_t i = 0; i < endpoints.size(); ++i) {
        const USB_ENDPOINT_DESCRIPTOR* e = endpoints[i];
        USBD_PIPE_INFORMATION& pipe = pipes[i];
        pipe.MaximumPacketSize = USHORT(e->wMaxPacketSize & 0x07FF);
        pipe.EndpointAddress = e->bEndpointAddress;
        pipe.Interval = e->bInterval;
        pipe.PipeType = USBD_PIPE_TYPE(e->bmAttributes & USB_ENDPOINT_TYPE_MASK);
        pipe.PipeHandle = NewUsbHandle();
        if (pipe.MaximumTransferSize == 0) pipe.MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        out.pipes.push_back({pipe.PipeHandle, e->bEndpointAddress,
                             UCHAR(e->bmAttributes & USB_ENDPOINT_TYPE_MASK),
                             pipe.MaximumPacketSize});
    }
    return {};
}

UrbResult BusDevice::ServeSelectConfiguration(URB& urb)
{
    auto& request = urb.UrbSelectConfiguration;
    UrbResult done;
    for (const auto& [number, iface] : m_interfaces)
        for (const Pipe& pipe : iface.pipes) done.closedPipes.push_back(pipe.handle);
    if (!request.ConfigurationDescriptor) {
        m_interfaces.clear();
        m_configurationHandle = nullptr;
        return done;
    }
    if (m_configuration.empty()) return Failure(USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);

    // The records were checked to tile the request; the new state replaces
    // the old one only when every record could be described.
    std::map<UCHAR, Interface> selected;
    auto* base = reinterpret_cast<uint8_t*>(&urb);
    for (size_t offset = FIELD_OFFSET(_URB_SELECT_CONFIGURATION, Interface);
         offset < urb.UrbHeader.Length;) {
        auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(base + offset);
        Interface iface;
        const UrbResult result = Describe(*info, info->Length, iface);
        if (!USBD_SUCCESS(result.usbdStatus)) return result;
        selected[info->InterfaceNumber] = std::move(iface);
        offset += info->Length;
    }
    m_interfaces = std::move(selected);
    m_configurationHandle = NewUsbHandle();
    request.ConfigurationHandle = m_configurationHandle;
    return done;
}

UrbResult BusDevice::ServeSelectInterface(_URB_SELECT_INTERFACE& request)
{
    USBD_INTERFACE_INFORMATION& info = request.Interface;
    auto current = m_interfaces.find(info.InterfaceNumber);
    if (current == m_interfaces.end()) return Failure(USBD_STATUS_INTERFACE_NOT_FOUND);
    Interface iface;
    const size_t available = request.Hdr.Length - FIELD_OFFSET(_URB_SELECT_INTERFACE, Interface);
    const UrbResult result = Describe(info, available, iface);
    if (!USBD_SUCCESS(result.usbdStatus)) return result;
    UrbResult done;
    for (const Pipe& pipe : current->second.pipes) done.closedPipes.push_back(pipe.handle);
    current->second = std::move(iface);
    return done;
}

UrbResult BusDevice::ServeControl(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST& request, USHORT function)
{
    const ULONG capacity = request.TransferBufferLength;
    request.TransferBufferLength = 0;
    if (capacity && !request.TransferBuffer) return Failure(USBD_STATUS_INVALID_PARAMETER);

    ControlRequest control;
    const bool isClass = function == URB_FUNCTION_CLASS_DEVICE ||
                         function == URB_FUNCTION_CLASS_INTERFACE ||
                         function == URB_FUNCTION_CLASS_ENDPOINT || function == URB_FUNCTION_CLASS_OTHER;
    control.kind = isClass ? ControlRequest::Kind::Class : ControlRequest::Kind::Vendor;
    switch (function) {
    case URB_FUNCTION_CLASS_INTERFACE:
    case URB_FUNCTION_VENDOR_INTERFACE:
        control.recipient = ControlRequest::Recipient::Interface;
        break;
    case URB_FUNCTION_CLASS_ENDPOINT:
    case URB_FUNCTION_VENDOR_ENDPOINT:
        control.recipient = ControlRequest::Recipient::Endpoint;
        break;
    case URB_FUNCTION_CLASS_OTHER:
    case URB_FUNCTION_VENDOR_OTHER:
        control.recipient = ControlRequest::Recipient::Other;
        break;
    default:
        control.recipient = ControlRequest::Recipient::Device;
        break;
    }
    control.deviceToHost = request.TransferFlags & USBD_TRANSFER_DIRECTION_IN;
    control.request = request.Request;
    control.value = request.Value;
    control.index = request.Index;

    ULONG transferred = 0;
    const USBD_STATUS status = m_device->Control(
        control, {static_cast<uint8_t*>(request.TransferBuffer), capacity}, &transferred);
    if (!USBD_SUCCESS(status)) return Failure(status);
    request.TransferBufferLength = std::min(transferred, capacity);
    return {};
}

}  // namespace usbsim
