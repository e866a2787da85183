// The device's kernel-streaming filter descriptor, assembled at post-start
// from pin templates: one pin pair per audio stream and per MIDI port.
#pragma once

#include "kernelobject.h"

#include <windef.h>
#include <ks.h>
#include <ksmedia.h>

constexpr ULONG kMaxFilterPins = 32;
constexpr ULONG kMaxFilterNodes = 32;
constexpr ULONG kMaxFilterConnections = 32;
constexpr ULONG kAudioRangeCount = 4;

class DynamicFilterDescriptor {
public:
    // From paged pool; null when it cannot be allocated.
    static DynamicFilterDescriptor* Create();
    static void Destroy(DynamicFilterDescriptor* descriptor);

    const KSFILTER_DESCRIPTOR* Descriptor() const { return &m_filter; }
    ULONG PinCount() const { return m_filter.PinDescriptorsCount; }

    bool HasRoomForAudioPinPair() const;
    bool HasRoomForMidiPinPair() const;
    // direction: the endpoint's direction bit (1 = capture). Callers check
    // the room first.
    void AddAudioPinPair(ULONG direction);
    // Returns the streaming pin's id.
    ULONG AddMidiPinPair(ULONG direction, bool hidden);
    void SetRenderChannels(ULONG channels);

private:
    DynamicFilterDescriptor();

    KSFILTER_DESCRIPTOR m_filter;
    KSAUTOMATION_TABLE m_automation;
    KSPIN_DESCRIPTOR_EX m_pins[kMaxFilterPins];
    KSNODE_DESCRIPTOR m_nodes[kMaxFilterNodes];
    KSTOPOLOGY_CONNECTION m_connections[kMaxFilterConnections];
    KSDATARANGE_AUDIO m_captureRanges[kAudioRangeCount];
    PKSDATARANGE m_captureRangeList[kAudioRangeCount];
    KSDATARANGE_AUDIO m_renderRanges[kAudioRangeCount];
    PKSDATARANGE m_renderRangeList[kAudioRangeCount];
};
