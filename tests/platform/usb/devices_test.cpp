// Every virtual device's descriptor set is well formed where it should be,
// and the faulty ones are faulty in exactly the intended way.
#include "hardware/devices.h"
#include "usb/descriptorwalk.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct Walk {
    size_t endedAt = 0;      // offset where the walk stopped
    size_t interfaces = 0;   // distinct interface numbers
    size_t endpoints = 0;
    bool endpointCountsMatch = true;
};

Walk WalkConfiguration(const hardware::Bytes& c)
{
    Walk w;
    const size_t total = c[2] | c[3] << 8;
    std::set<uint8_t> numbers;
    size_t offset = 0;
    int expectedEndpoints = -1, seenEndpoints = 0;
    auto close = [&] {
        if (expectedEndpoints >= 0 && seenEndpoints != expectedEndpoints) w.endpointCountsMatch = false;
    };
    while (offset + 2 <= std::min(total, c.size()) && c[offset] >= 2 && offset + c[offset] <= c.size()) {
        if (c[offset + 1] == USB_INTERFACE_DESCRIPTOR_TYPE) {
            close();
            numbers.insert(c[offset + 2]);
            expectedEndpoints = c[offset + 4];
            seenEndpoints = 0;
        } else if (c[offset + 1] == USB_ENDPOINT_DESCRIPTOR_TYPE) {
            ++seenEndpoints;
            ++w.endpoints;
        }
        offset += c[offset];
    }
    close();
    w.endedAt = offset;
    w.interfaces = numbers.size();
    return w;
}

struct ProductCase {
    const char* name;
    usbsim::DescriptorSet (*make)();
    size_t interfaces;
    size_t endpoints;
};

class WellFormedSet : public testing::TestWithParam<ProductCase> {};

TEST_P(WellFormedSet, WalksFromBLengthToWTotalLengthExactly)
{
    const usbsim::DescriptorSet set = GetParam().make();
    ASSERT_EQ(set.device.size(), 18u);
    const hardware::Bytes& c = set.configuration;
    ASSERT_GE(c.size(), 9u);
    EXPECT_EQ(size_t(c[2] | c[3] << 8), c.size());
    const Walk w = WalkConfiguration(c);
    EXPECT_EQ(w.endedAt, c.size());
    EXPECT_EQ(w.interfaces, c[4]);
    EXPECT_EQ(w.interfaces, GetParam().interfaces);
    EXPECT_EQ(w.endpoints, GetParam().endpoints);
    EXPECT_TRUE(w.endpointCountsMatch);
    EXPECT_EQ(set.strings.at(0), (hardware::Bytes{4, 3, 0x09, 0x04}));
    ASSERT_TRUE(set.strings.count(hardware::kProductString));
}

template <uint16_t Id>
usbsim::DescriptorSet Product()
{
    return hardware::DescriptorsFor(Id);
}

INSTANTIATE_TEST_SUITE_P(
    Products, WellFormedSet,
    testing::Values(ProductCase{"P0A", Product<0x0A>, 1, 2}, ProductCase{"P0B", Product<0x0B>, 3, 4},
                    ProductCase{"P0C", Product<0x0C>, 3, 4}, ProductCase{"P0E", Product<0x0E>, 1, 2},
                    ProductCase{"P0F", Product<0x0F>, 1, 2}, ProductCase{"P10", Product<0x10>, 2, 4},
                    ProductCase{"P12", Product<0x12>, 3, 4}, ProductCase{"Generic", Product<0x0100>, 5, 6},
                    ProductCase{"OneAndThreeJacks", hardware::MidiStreamingOneAndThreeJacks, 2, 2},
                    ProductCase{"Feedback", hardware::AudioStreamingWithFeedback, 2, 2},
                    ProductCase{"FromTwo", hardware::InterfacesNumberedFromTwo, 3, 4},
                    ProductCase{"NoAltZero", hardware::NoAlternateSettingZero, 2, 2},
                    ProductCase{"OnePipe", hardware::VendorInterfaceWithOnePipe, 1, 1},
                    ProductCase{"NoMidiStreaming", hardware::ClassMidiWithoutMidiStreaming, 3, 2},
                    ProductCase{"NoEndpoints", hardware::InterfaceWithoutEndpoints, 1, 0},
                    ProductCase{"TenInterfaces", hardware::TenInterfaces, 10, 20},
                    ProductCase{"NonContiguous", hardware::NonContiguousInterfaces, 3, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// The embedded jack counts the class MIDI endpoints declare, in order.
std::vector<int> JackCounts(const hardware::Bytes& c)
{
    std::vector<int> counts;
    for (size_t o = 0; o + 4 <= c.size() && c[o] >= 2; o += c[o])
        if (c[o + 1] == 0x25 && c[o + 2] == 0x01 && c[o] == 4 + c[o + 3]) counts.push_back(c[o + 3]);
    return counts;
}

TEST(ClassMidiModels, DeclareTheirOwnJackCounts)
{
    EXPECT_EQ(JackCounts(hardware::DescriptorsFor(0x0B).configuration), (std::vector<int>{2, 2}));
    EXPECT_EQ(JackCounts(hardware::DescriptorsFor(0x0C).configuration), (std::vector<int>{1, 1}));
    EXPECT_EQ(JackCounts(hardware::DescriptorsFor(0x12).configuration), (std::vector<int>{4, 4}));
    EXPECT_EQ(JackCounts(hardware::MidiStreamingOneAndThreeJacks().configuration), (std::vector<int>{1, 3}));
}

TEST(ClassMidiModels, EachMidiStreamingEndpointIsFollowedByItsGeneralDescriptor)
{
    const hardware::Bytes c = hardware::DescriptorsFor(0x0B).configuration;
    int checked = 0;
    for (size_t o = 0; o + 2 <= c.size(); o += c[o]) {
        if (c[o + 1] != USB_ENDPOINT_DESCRIPTOR_TYPE || c[o] != 9) continue;  // MIDI streaming endpoints are 9 bytes
        const size_t next = o + c[o];
        ASSERT_LT(next + 2, c.size());
        EXPECT_EQ(c[next + 1], 0x25);
        EXPECT_EQ(c[next + 2], 0x01);
        ++checked;
    }
    EXPECT_EQ(checked, 2);
}

TEST(OddSets, ProductStringsHaveTheAskedLength)
{
    for (size_t bytes : {64, 70}) {
        const usbsim::DescriptorSet set = hardware::ProductStringOfLength(bytes);
        const hardware::Bytes& s = set.strings.at(hardware::kProductString);
        EXPECT_EQ(s.size(), bytes);
        EXPECT_EQ(s[0], bytes);
    }
}

TEST(OddSets, WrongVendorChangesOnlyTheVendor)
{
    const usbsim::DescriptorSet set = hardware::WrongVendor(0x1234);
    EXPECT_EQ(set.device[8] | set.device[9] << 8, 0x1234);
    EXPECT_EQ(set.device[10] | set.device[11] << 8, hardware::kClassMidiSmall);
}

TEST(OddSets, TotalLengthBeyondDataClaimsMoreThanItHas)
{
    const hardware::Bytes c = hardware::TotalLengthBeyondData().configuration;
    EXPECT_EQ(size_t(c[2] | c[3] << 8), c.size() + 20);
    // Served through the bus, the walk still ends at the real data.
    const usbsim::DescriptorRange range = usbsim::ConfigurationRange(c.data(), c.size());
    EXPECT_EQ(range.end, c.data() + c.size());
}

TEST(OddSets, ZeroLengthDescriptorStopsTheWalkEarly)
{
    const hardware::Bytes c = hardware::ZeroLengthDescriptorInside().configuration;
    const Walk w = WalkConfiguration(c);
    EXPECT_LT(w.endedAt, c.size());
    EXPECT_EQ(c[w.endedAt], 0);
}

TEST(Factory, UnknownProductGetsTheClassCompliantSetUnderItsOwnId)
{
    const usbsim::DescriptorSet set = hardware::DescriptorsFor(0x0777);
    EXPECT_EQ(set.device[10] | set.device[11] << 8, 0x0777);
    EXPECT_EQ(set.configuration, hardware::ClassCompliantDescriptors(0x0777).configuration);
}

}  // namespace
