// A bulk or interrupt MIDI pipe of the device and the virtual cables on it.
// The variants differ in the bytes on the wire and, for running status, in
// how output packets are built.
#pragma once

#include "kernelobject.h"
#include "midiparser.h"
#include "midiport.h"

#include <usb.h>

class UsbEndpoint;

constexpr ULONG kMaxMidiPorts = 16;

class MidiEndpoint : public KernelObject {
public:
    virtual ~MidiEndpoint();

    // Packs source bytes of port `portIndex` into the packet; on entry
    // *taken is what the source holds, on return what was used. Returns
    // whether the packet is full.
    virtual bool PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                            ULONG portIndex) = 0;
    // Turns a received packet into messages for the ports and delivers them.
    virtual void UnpackInput(const UCHAR* packet, ULONG received);
    // The MIDI bytes of a received packet; false when there are none.
    virtual bool GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length) = 0;
    // Packs pending output of the ports into the next packet and sends it.
    virtual void PumpOutput();
    // The variant's name, for diagnostics.
    virtual const char* VariantName() const = 0;

    // Resets the pipe; an IN endpoint then keeps two reads in flight, an OUT
    // endpoint has both packet buffers free.
    void StartEndpoint();
    // Refuses new transfers, aborts the pipe and cancels what is in flight,
    // waits for it, and marks both OUT buffers busy until the next start.
    void StopEndpoint();

    // Held by a pump while it packs the ports' pending bytes, and by a port
    // while it offers or withdraws them: a write that has returned has no
    // bytes left in another cable's pump. Taken inside the pump mutex.
    KIRQL AcquirePending()
    {
        KIRQL irql;
        KeAcquireSpinLock(&m_pendingLock, &irql);
        return irql;
    }
    void ReleasePending(KIRQL irql) { KeReleaseSpinLock(&m_pendingLock, irql); }

    ULONG PortCount() const { return m_portCount; }
    MidiPort* Port(ULONG i) const { return i < m_portCount ? m_ports[i] : nullptr; }
    UsbEndpoint* Endpoint() const { return m_endpoint; }
    ULONG DirectionBit() const;
    ULONG PacketSize() const { return m_packetSize; }
    ULONG CurrentFrame() const;
    NTSTATUS SubmitTransfer(ULONG index, ULONG length, PUCHAR buffer);

protected:
    explicit MidiEndpoint(UsbEndpoint* endpoint);
    static NTSTATUS OnMidiTransferComplete(PDEVICE_OBJECT device, PIRP irp, PVOID context);
    void CompleteTransfer(PIRP irp);
    // Waits up to a second for buffer i to be free.
    bool WaitBufferFree(ULONG index);
    // Builds transfer i and counts it, about to be handed down; false once
    // the endpoint has been stopped.
    bool PrepareTransfer(ULONG index, ULONG length, PUCHAR buffer);
    void BuildTransfer(ULONG index, ULONG length, PUCHAR buffer);
    void RemoveOutstanding();
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
    KSPIN_LOCK m_pendingLock;
    UsbEndpoint* m_endpoint;
    PIRP m_irps[2] = {};
    _URB_BULK_OR_INTERRUPT_TRANSFER m_urbs[2] = {};
    // A stop waits without a time-out for every transfer it counted, so a
    // transfer is built and counted only while the endpoint runs, and both
    // under m_countLock: once StopEndpoint has cleared m_running there,
    // nothing new is handed down, and cancelling the IRPs it found counted
    // reaches whatever was counted before (a cancel that comes before the
    // hand-down makes the bus refuse it).
    LONG m_outstanding = 0;      // under m_countLock
    BOOLEAN m_running = FALSE;   // under m_countLock
    KEVENT m_idleEvent;          // signalled while m_outstanding is 0; changed under m_countLock
    KSPIN_LOCK m_countLock;
    MidiParser m_parser;
    // Per transfer: 1 while counted in m_outstanding; the completion or a
    // failed hand-down, whichever comes first, uncounts it.
    volatile LONG m_counted[2] = {};
};
