// The MIDI endpoint variants the product table and the generic walk create.
#pragma once

#include "midiendpoint.h"

// Plain MIDI bytes, one packet as received or sent.
class RawMidiEndpoint : public MidiEndpoint {
public:
    static RawMidiEndpoint* Create(UsbEndpoint* endpoint) { return CreateVariant<RawMidiEndpoint>(endpoint); }

private:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;
};

// MIDI bytes framed by the vendor interface of class-compliant devices.
class FramedMidiEndpoint : public MidiEndpoint {
public:
    static FramedMidiEndpoint* Create(UsbEndpoint* endpoint) { return CreateVariant<FramedMidiEndpoint>(endpoint); }

private:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;
};

// Three-byte channel messages with running status across packets.
class RunningStatusMidiEndpoint : public MidiEndpoint {
public:
    static RunningStatusMidiEndpoint* Create(UsbEndpoint* endpoint)
    {
        return CreateVariant<RunningStatusMidiEndpoint>(endpoint);
    }

private:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;

    UCHAR m_lastStatus = 0;
};

// USB-MIDI event packets with one port per embedded jack of the pipe's
// class-specific endpoint descriptor.
class ClassMidiEndpoint : public MidiEndpoint {
public:
    static ClassMidiEndpoint* Create(UsbEndpoint* endpoint);
    MidiPort* PortForCable(ULONG cable) const { return cable < kMaxMidiPorts ? m_portsByCable[cable] : nullptr; }

protected:
    friend class MidiEndpoint;
    using MidiEndpoint::MidiEndpoint;
    // Builds the cable table from the descriptor; with no jacks declared the
    // endpoint ends with no port at all.
    void AddDescriptorPorts();

    MidiPort* m_portsByCable[kMaxMidiPorts] = {};
};

// The class format plus one extra port on cable 2 (the Kinetra port).
class ClassMidiEndpointEx : public ClassMidiEndpoint {
public:
    static ClassMidiEndpointEx* Create(UsbEndpoint* endpoint);

private:
    friend class MidiEndpoint;
    using ClassMidiEndpoint::ClassMidiEndpoint;
};

// Number of embedded MIDI jacks the pipe's class-specific endpoint
// descriptor declares (at most 16), or 0 when the descriptors do not say.
ULONG ClassMidiCableCount(const UsbEndpoint* endpoint);
