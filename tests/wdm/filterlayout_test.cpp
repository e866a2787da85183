// The filter each product publishes: pin pairs in registration order, their
// ranges, nodes and connections, and which MIDI pins are hidden.
#include "devicetestbed.h"

#include <string>
#include <vector>

namespace {

enum class Pair { Render, Capture, MidiOut, MidiIn, HiddenMidiOut, HiddenMidiIn };

struct Layout {
    uint16_t product;
    std::vector<Pair> pairs;
    ULONG renderChannels;
};

std::string Describe(const Layout& layout)
{
    char name[16];
    snprintf(name, sizeof(name), "Product%04X", layout.product);
    return name;
}

class FilterLayout : public testing::TestWithParam<Layout> {};

void ExpectPin(const KSPIN_DESCRIPTOR_EX& pin, KSPIN_DATAFLOW flow, KSPIN_COMMUNICATION communication,
               const GUID& category, const GUID& name, ULONG flags, ULONG instances, const GUID& subFormat)
{
    EXPECT_EQ(pin.PinDescriptor.DataFlow, flow);
    EXPECT_EQ(pin.PinDescriptor.Communication, communication);
    EXPECT_TRUE(IsEqualGUID(*pin.PinDescriptor.Category, category));
    EXPECT_TRUE(IsEqualGUID(*pin.PinDescriptor.Name, name));
    EXPECT_EQ(pin.Flags, flags);
    EXPECT_EQ(pin.InstancesPossible, instances);
    EXPECT_EQ(pin.InstancesNecessary, 0u);
    ASSERT_GE(pin.PinDescriptor.DataRangesCount, 1u);
    EXPECT_TRUE(IsEqualGUID(pin.PinDescriptor.DataRanges[0]->SubFormat, subFormat));
}

void ExpectConnection(const KSTOPOLOGY_CONNECTION& c, ULONG fromNode, ULONG fromPin, ULONG toNode, ULONG toPin)
{
    EXPECT_EQ(c.FromNode, fromNode);
    EXPECT_EQ(c.FromNodePin, fromPin);
    EXPECT_EQ(c.ToNode, toNode);
    EXPECT_EQ(c.ToNodePin, toPin);
}

TEST_P(FilterLayout, MatchesTheDevicesInterfaces)
{
    const Layout& layout = GetParam();
    DeviceTestBed bed(layout.product);
    ASSERT_EQ(bed.Start(), STATUS_SUCCESS);
    const KSFILTER_DESCRIPTOR& f = bed.Filter();

    ULONG pins = 0, nodes = 0, connections = 0;
    bool audio = false;
    for (Pair pair : layout.pairs) {
        SCOPED_TRACE("pin " + std::to_string(pins));
        ASSERT_LT(pins + 1, f.PinDescriptorsCount);
        const KSPIN_DESCRIPTOR_EX& streaming = f.PinDescriptors[pins];
        const KSPIN_DESCRIPTOR_EX& bridge = f.PinDescriptors[pins + 1];
        const ULONG c = pins;
        switch (pair) {
        case Pair::Render:
        case Pair::Capture: {
            const bool capture = pair == Pair::Capture;
            audio = true;
            ExpectPin(streaming, capture ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK,
                      KSCATEGORY_AUDIO, capture ? KSCATEGORY_CAPTURE : KSCATEGORY_RENDER, 0x00110011, 1,
                      KSDATAFORMAT_SUBTYPE_PCM);
            EXPECT_EQ(streaming.PinDescriptor.DataRangesCount, 4u);
            ExpectPin(bridge, capture ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_NONE,
                      KSNODETYPE_LINE_CONNECTOR, KSNODETYPE_LINE_CONNECTOR, 0, 1, KSDATAFORMAT_SUBTYPE_ANALOG);
            EXPECT_TRUE(IsEqualGUID(*f.NodeDescriptors[nodes].Type, capture ? KSNODETYPE_ADC : KSNODETYPE_DAC));
            ExpectConnection(f.Connections[connections], KSFILTER_NODE, capture ? c + 1 : c, nodes, 1);
            ExpectConnection(f.Connections[connections + 1], nodes, 0, KSFILTER_NODE, capture ? c : c + 1);
            auto* range = reinterpret_cast<const KSDATARANGE_AUDIO*>(streaming.PinDescriptor.DataRanges[0]);
            EXPECT_EQ(range->MaximumChannels, capture ? 2u : layout.renderChannels);
            ++nodes;
            connections += 2;
            break;
        }
        default: {
            const bool in = pair == Pair::MidiIn || pair == Pair::HiddenMidiIn;
            const bool hidden = pair == Pair::HiddenMidiOut || pair == Pair::HiddenMidiIn;
            ExpectPin(streaming, in ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK,
                      KSCATEGORY_WDMAUD_USE_PIN_NAME, KSAUDFNAME_MIDI, 0x00110000, KSINSTANCE_INDETERMINATE,
                      hidden ? KSDATAFORMAT_SUBTYPE_HiddenMidi : KSDATAFORMAT_SUBTYPE_MIDI);
            ExpectPin(bridge, in ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_NONE, KSCATEGORY_AUDIO,
                      KSAUDFNAME_MIDI, 0, KSINSTANCE_INDETERMINATE, KSDATAFORMAT_SUBTYPE_MIDI_BUS);
            ExpectConnection(f.Connections[connections], KSFILTER_NODE, in ? c + 1 : c, KSFILTER_NODE,
                             in ? c : c + 1);
            EXPECT_NE(bed.Device().PortForPin(c), nullptr);
            ++connections;
            break;
        }
        }
        pins += 2;
    }
    EXPECT_EQ(f.PinDescriptorsCount, pins);
    EXPECT_EQ(f.NodeDescriptorsCount, nodes);
    EXPECT_EQ(f.ConnectionsCount, connections);
    EXPECT_EQ(f.AutomationTable->PropertySetsCount, audio ? 2u : 1u);
    EXPECT_EQ(f.AutomationTable->EventSetsCount, 1u);
    EXPECT_EQ(f.CategoriesCount, 3u);
}

using P = Pair;
INSTANTIATE_TEST_SUITE_P(
    Products, FilterLayout,
    testing::Values(
        Layout{0x0A, {P::HiddenMidiOut, P::HiddenMidiIn}, 2},
        Layout{0x0F, {P::HiddenMidiOut, P::HiddenMidiIn}, 2},
        Layout{0x0B, {P::MidiOut, P::MidiOut, P::MidiIn, P::MidiIn, P::HiddenMidiOut, P::HiddenMidiIn}, 2},
        Layout{0x0C, {P::MidiOut, P::MidiIn, P::HiddenMidiOut, P::HiddenMidiIn}, 2},
        // Four cables each way fill the sixteen MIDI pin ids; the Kinetra
        // ports find no pin id left.
        Layout{0x12, {P::MidiOut, P::MidiOut, P::MidiOut, P::MidiOut, P::MidiIn, P::MidiIn, P::MidiIn, P::MidiIn}, 2},
        Layout{0x0E, {P::MidiOut, P::MidiIn}, 2},
        Layout{0x10, {P::Render, P::Capture, P::MidiOut, P::MidiIn}, 4},
        Layout{0x100, {P::Render, P::Capture, P::MidiOut, P::MidiIn, P::MidiOut, P::MidiIn}, 2}),
    [](const auto& info) { return Describe(info.param); });

}  // namespace
