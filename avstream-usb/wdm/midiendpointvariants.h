// The MIDI endpoint variants the product table and the generic walk create:
// each keeps its wire format's few operations; the base holds the transfers.
#pragma once

#include "midiendpoint.h"

// Plain MIDI bytes, at most 8 per output packet.
class RawMidiEndpoint : public MidiEndpoint {
public:
    static RawMidiEndpoint* Create(UsbEndpoint* endpoint) { return CreateVariant<RawMidiEndpoint>(endpoint); }

    bool PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                    ULONG portIndex) override;
    bool GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length) override;
    const char* VariantName() const override { return "RawMidiEndpoint"; }

private:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;
};

// MIDI bytes behind a two-byte length header (the vendor interface of
// class-compliant devices).
class FramedMidiEndpoint : public MidiEndpoint {
public:
    static FramedMidiEndpoint* Create(UsbEndpoint* endpoint) { return CreateVariant<FramedMidiEndpoint>(endpoint); }

    bool PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                    ULONG portIndex) override;
    bool GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length) override;
    const char* VariantName() const override { return "FramedMidiEndpoint"; }

private:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;
};

// Three-byte channel messages with running status across packets; a new
// message may be merged into a packet still in flight.
class RunningStatusMidiEndpoint : public MidiEndpoint {
public:
    static RunningStatusMidiEndpoint* Create(UsbEndpoint* endpoint)
    {
        return CreateVariant<RunningStatusMidiEndpoint>(endpoint);
    }

    bool PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                    ULONG portIndex) override;
    bool GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length) override;
    const char* VariantName() const override { return "RunningStatusMidiEndpoint"; }
    void PumpOutput() override;

private:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;

    UCHAR m_lastStatus = 0;
};

// USB-MIDI event packets, one port per embedded jack of the pipe's
// class-specific endpoint descriptor.
class ClassMidiEndpoint : public MidiEndpoint {
public:
    static ClassMidiEndpoint* Create(UsbEndpoint* endpoint);
    MidiPort* PortForCable(ULONG cable) const { return cable < kMaxMidiPorts ? m_portsByCable[cable] : nullptr; }

    bool PackOutput(PUCHAR packet, ULONG capacity, ULONG* filled, const UCHAR* source, ULONG* taken,
                    ULONG portIndex) override;
    void UnpackInput(const UCHAR* packet, ULONG received) override;
    bool GetInputPayload(const UCHAR* packet, ULONG received, const UCHAR** payload, ULONG* length) override;
    const char* VariantName() const override { return "ClassMidiEndpoint"; }

protected:
    friend class MidiEndpoint;
    explicit ClassMidiEndpoint(UsbEndpoint* endpoint);
    // Builds the cable table from the descriptor; with no jacks declared the
    // endpoint ends with no port at all.
    void AddDescriptorPorts();

    MidiPort* m_portsByCable[kMaxMidiPorts] = {};
    MidiParser m_parsers[kMaxMidiPorts];
};

// The class format plus one extra port on cable 2 (the Kinetra port).
class ClassMidiEndpointEx : public ClassMidiEndpoint {
public:
    static ClassMidiEndpointEx* Create(UsbEndpoint* endpoint);
    const char* VariantName() const override { return "ClassMidiEndpointEx"; }

private:
    friend class MidiEndpoint;
    using ClassMidiEndpoint::ClassMidiEndpoint;
};

// Number of embedded MIDI jacks the pipe's class-specific endpoint
// descriptor declares (at most 16), or 0 when the descriptors do not say.
ULONG ClassMidiCableCount(const UsbEndpoint* endpoint);
