// A bulk or interrupt MIDI pipe of the device and the virtual cables on it.
// The variants differ in the bytes on the wire and, for running status, in
// how output packets are built.
#pragma once

#include "kernelobject.h"
#include "midiport.h"

#include <usb.h>

class UsbEndpoint;

constexpr ULONG kMaxMidiPorts = 16;

class MidiEndpoint : public KernelObject {
public:
    virtual ~MidiEndpoint();

    // Resets the pipe; an OUT endpoint then has both packet buffers free.
    void StartEndpoint();
    // Aborts the pipe, waits for transfers in flight, and marks both OUT
    // buffers busy until the next start.
    void StopEndpoint();

    ULONG PortCount() const { return m_portCount; }
    MidiPort* Port(ULONG i) const { return i < m_portCount ? m_ports[i] : nullptr; }
    UsbEndpoint* Endpoint() const { return m_endpoint; }
    ULONG DirectionBit() const;
    ULONG PacketSize() const { return m_packetSize; }

protected:
    explicit MidiEndpoint(UsbEndpoint* endpoint);
    // Allocates the transfer resources and the port on cable 0; false when
    // any allocation fails.
    bool Initialize();
    // Appends a port on the given cable; null when the table is full or the
    // port cannot be allocated.
    MidiPort* AddPort(ULONG cable);
    void DestroyPorts();

    // Creates an endpoint of a variant: null when it cannot be allocated.
    template <class Variant>
    static Variant* CreateVariant(UsbEndpoint* endpoint)
    {
        auto* created = new Variant(endpoint);
        if (created && !created->Initialize()) {
            delete created;
            return nullptr;
        }
        return created;
    }

    MidiPort* m_ports[kMaxMidiPorts] = {};
    ULONG m_portCount = 0;
    PUCHAR m_buffers[2] = {};
    ULONG m_packetSize = 0;
    ULONG m_currentOut = 0;
    ULONG m_fill[2] = {};
    KEVENT m_bufferFree[2];
    FAST_MUTEX m_pumpMutex;
    UsbEndpoint* m_endpoint;
    PIRP m_irps[2] = {};
    _URB_BULK_OR_INTERRUPT_TRANSFER m_urbs[2] = {};
    volatile LONG m_outstanding = 0;
    KEVENT m_idleEvent;
};
