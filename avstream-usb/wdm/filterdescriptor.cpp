#include "filterdescriptor.h"

#include "filtertemplates.h"

#include <new>

DynamicFilterDescriptor* DynamicFilterDescriptor::Create()
{
    void* memory = ExAllocatePoolWithTag(PagedPool, sizeof(DynamicFilterDescriptor), kBufferTag);
    if (!memory) return nullptr;
    RtlZeroMemory(memory, sizeof(DynamicFilterDescriptor));
    return new (memory) DynamicFilterDescriptor();
}

void DynamicFilterDescriptor::Destroy(DynamicFilterDescriptor* descriptor)
{
    if (!descriptor) return;
    descriptor->~DynamicFilterDescriptor();
    ExFreePoolWithTag(descriptor, kBufferTag);
}

DynamicFilterDescriptor::DynamicFilterDescriptor()
{
    m_automation = kFilterAutomation;
    // Only the pin-name set shows until an audio pin pair exists.
    m_automation.PropertySetsCount = 1;

    m_filter.Dispatch = nullptr;
    m_filter.AutomationTable = &m_automation;
    m_filter.Version = KSFILTER_DESCRIPTOR_VERSION;
    m_filter.Flags = 0;
    m_filter.ReferenceGuid = nullptr;
    m_filter.PinDescriptorsCount = 0;
    m_filter.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    m_filter.PinDescriptors = m_pins;
    m_filter.CategoriesCount = 3;
    m_filter.Categories = kFilterCategories;
    m_filter.NodeDescriptorsCount = 0;
    m_filter.NodeDescriptorSize = sizeof(KSNODE_DESCRIPTOR);
    m_filter.NodeDescriptors = m_nodes;
    m_filter.ConnectionsCount = 0;
    m_filter.Connections = m_connections;
    m_filter.ComponentId = nullptr;

    for (ULONG i = 0; i < kAudioRangeCount; ++i) {
        m_captureRanges[i] = kAudioRanges[i];
        m_captureRangeList[i] = &m_captureRanges[i].DataRange;
        m_renderRanges[i] = kAudioRanges[i];
        m_renderRangeList[i] = &m_renderRanges[i].DataRange;
    }
}

bool DynamicFilterDescriptor::HasRoomForAudioPinPair() const
{
    return m_filter.PinDescriptorsCount + 2 <= kMaxFilterPins && m_filter.NodeDescriptorsCount + 1 <= kMaxFilterNodes &&
           m_filter.ConnectionsCount + 2 <= kMaxFilterConnections;
}

bool DynamicFilterDescriptor::HasRoomForMidiPinPair() const
{
    return m_filter.PinDescriptorsCount + 2 <= kMaxFilterPins && m_filter.ConnectionsCount + 1 <= kMaxFilterConnections;
}

// Render flows streaming pin -> DAC -> bridge pin; capture flows bridge pin
// -> ADC -> streaming pin.
void DynamicFilterDescriptor::AddAudioPinPair(ULONG direction)
{
    if (!HasRoomForAudioPinPair()) return;
    const bool capture = direction == 1;
    const ULONG c = m_filter.PinDescriptorsCount;
    const ULONG n = m_filter.NodeDescriptorsCount;
    const ULONG k = m_filter.ConnectionsCount;

    KSPIN_DESCRIPTOR_EX& streaming = m_pins[c];
    streaming = kAudioStreamingPin;
    streaming.PinDescriptor.DataRangesCount = kAudioRangeCount;
    streaming.PinDescriptor.DataRanges = capture ? m_captureRangeList : m_renderRangeList;
    streaming.PinDescriptor.DataFlow = capture ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN;
    streaming.PinDescriptor.Name = capture ? &KSCATEGORY_CAPTURE : &KSCATEGORY_RENDER;

    KSPIN_DESCRIPTOR_EX& bridge = m_pins[c + 1];
    bridge = kAudioBridgePin;
    bridge.PinDescriptor.DataFlow = capture ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;

    m_nodes[n] = KSNODE_DESCRIPTOR{};
    m_nodes[n].Type = capture ? &KSNODETYPE_ADC : &KSNODETYPE_DAC;

    m_connections[k] = {KSFILTER_NODE, capture ? c + 1 : c, n, 1};
    m_connections[k + 1] = {n, 0, KSFILTER_NODE, capture ? c : c + 1};

    m_filter.NodeDescriptorsCount = n + 1;
    m_filter.PinDescriptorsCount = c + 2;
    m_filter.ConnectionsCount = k + 2;
    m_automation.PropertySetsCount = 2;
}

ULONG DynamicFilterDescriptor::AddMidiPinPair(ULONG direction, bool hidden)
{
    const bool in = direction == 1;
    const ULONG c = m_filter.PinDescriptorsCount;
    const ULONG k = m_filter.ConnectionsCount;
    if (!HasRoomForMidiPinPair()) return c;

    KSPIN_DESCRIPTOR_EX& streaming = m_pins[c];
    streaming = kMidiStreamingPin;
    streaming.PinDescriptor.DataRanges = hidden ? kHiddenMidiRanges : kVisibleMidiRanges;
    streaming.PinDescriptor.DataFlow = in ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN;

    KSPIN_DESCRIPTOR_EX& bridge = m_pins[c + 1];
    bridge = kMidiBridgePin;
    bridge.PinDescriptor.DataFlow = in ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;

    m_connections[k] = {KSFILTER_NODE, in ? c + 1 : c, KSFILTER_NODE, in ? c : c + 1};

    m_filter.PinDescriptorsCount = c + 2;
    m_filter.ConnectionsCount = k + 1;
    return c;
}

void DynamicFilterDescriptor::SetRenderChannels(ULONG channels)
{
    for (auto& range : m_renderRanges) range.MaximumChannels = channels;
}
