// Property requests: the standard answers from the descriptor, the
// size-query protocol, automation-table dispatch with its size checks, basic
// support, and hostile buffers.
#include "ksfixture.h"

#include <cstring>
#include <vector>

namespace kstest {
namespace {

using kmsim::KsClientHandle;

class KsPropertyTest : public KsFilterTest {
protected:
    // The whole value of a KSP_PIN property, fetched with a size query first.
    std::vector<uint8_t> PinValue(ULONG pinId, ULONG id, NTSTATUS* status)
    {
        ULONG_PTR needed = 0;
        *status = filter_->PinProperty(pinId, id, nullptr, 0, &needed);
        if (*status != STATUS_BUFFER_OVERFLOW) return {};
        std::vector<uint8_t> value(needed);
        ULONG_PTR returned = 0;
        *status = filter_->PinProperty(pinId, id, value.data(), ULONG(value.size()), &returned);
        EXPECT_EQ(returned, needed);
        return value;
    }

    std::vector<uint8_t> FilterValue(const GUID& set, ULONG id, NTSTATUS* status)
    {
        ULONG_PTR needed = 0;
        *status = filter_->Property(set, id, KSPROPERTY_TYPE_GET, nullptr, 0, &needed);
        if (*status != STATUS_BUFFER_OVERFLOW) return {};
        std::vector<uint8_t> value(needed);
        *status = filter_->Property(set, id, KSPROPERTY_TYPE_GET, value.data(), ULONG(value.size()));
        return value;
    }

    template <typename T>
    static T At(const std::vector<uint8_t>& bytes, size_t offset)
    {
        T value;
        memcpy(&value, bytes.data() + offset, sizeof(T));
        return value;
    }
};

TEST_F(KsPropertyTest, PinCountComesFromTheDescriptor)
{
    ULONG count = 0;
    ULONG_PTR returned = 0;
    EXPECT_EQ(filter_->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET, &count, sizeof(count),
                                &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(count, kPinCount);
    EXPECT_EQ(returned, sizeof(ULONG));
}

struct PinFacts {
    ULONG pin;
    KSPIN_DATAFLOW flow;
    KSPIN_COMMUNICATION communication;
    const GUID* category;
    ULONG possible;
};

class KsPinFactsTest : public KsPropertyTest, public ::testing::WithParamInterface<PinFacts> {};

TEST_P(KsPinFactsTest, DataFlowCommunicationCategoryAndInstances)
{
    const PinFacts& facts = GetParam();
    KSPIN_DATAFLOW flow{};
    EXPECT_EQ(filter_->PinProperty(facts.pin, KSPROPERTY_PIN_DATAFLOW, &flow, sizeof(flow)), STATUS_SUCCESS);
    EXPECT_EQ(flow, facts.flow);
    KSPIN_COMMUNICATION communication{};
    EXPECT_EQ(filter_->PinProperty(facts.pin, KSPROPERTY_PIN_COMMUNICATION, &communication, sizeof(communication)),
              STATUS_SUCCESS);
    EXPECT_EQ(communication, facts.communication);
    GUID category{};
    EXPECT_EQ(filter_->PinProperty(facts.pin, KSPROPERTY_PIN_CATEGORY, &category, sizeof(category)), STATUS_SUCCESS);
    EXPECT_TRUE(IsEqualGUID(category, *facts.category));
    KSPIN_CINSTANCES instances{};
    EXPECT_EQ(filter_->PinProperty(facts.pin, KSPROPERTY_PIN_CINSTANCES, &instances, sizeof(instances)),
              STATUS_SUCCESS);
    EXPECT_EQ(instances.PossibleCount, facts.possible);
    EXPECT_EQ(instances.CurrentCount, 0u);
    ULONG necessary = 9;
    EXPECT_EQ(filter_->PinProperty(facts.pin, KSPROPERTY_PIN_NECESSARYINSTANCES, &necessary, sizeof(necessary)),
              STATUS_SUCCESS);
    EXPECT_EQ(necessary, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Pins, KsPinFactsTest,
    ::testing::Values(PinFacts{kRenderPin, KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK, &KSCATEGORY_AUDIO, 1},
                      PinFacts{kBridgePin, KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_NONE, &KSNODETYPE_LINE_CONNECTOR, 1},
                      PinFacts{kMidiPin, KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK,
                               &KSCATEGORY_WDMAUD_USE_PIN_NAME, KSINSTANCE_INDETERMINATE}));

TEST_F(KsPropertyTest, InstanceCountsFollowOpenPins)
{
    std::unique_ptr<KsClientHandle> a, b;
    ASSERT_EQ(CreateMidiPin(*filter_, &a), STATUS_SUCCESS);
    ASSERT_EQ(CreateMidiPin(*filter_, &b), STATUS_SUCCESS);
    KSPIN_CINSTANCES instances{};
    EXPECT_EQ(filter_->PinProperty(kMidiPin, KSPROPERTY_PIN_CINSTANCES, &instances, sizeof(instances)), STATUS_SUCCESS);
    EXPECT_EQ(instances.CurrentCount, 2u);
    auto other = OpenFilter();
    EXPECT_EQ(other->PinProperty(kMidiPin, KSPROPERTY_PIN_GLOBALCINSTANCES, &instances, sizeof(instances)),
              STATUS_SUCCESS);
    EXPECT_EQ(instances.CurrentCount, 2u);
    EXPECT_EQ(other->PinProperty(kMidiPin, KSPROPERTY_PIN_CINSTANCES, &instances, sizeof(instances)), STATUS_SUCCESS);
    EXPECT_EQ(instances.CurrentCount, 0u);
}

TEST_F(KsPropertyTest, DataRangesAreAMultipleItemOfAlignedRanges)
{
    NTSTATUS status;
    std::vector<uint8_t> value = PinValue(kRenderPin, KSPROPERTY_PIN_DATARANGES, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    auto header = At<KSMULTIPLE_ITEM>(value, 0);
    EXPECT_EQ(header.Count, 2u);
    EXPECT_EQ(header.Size, value.size());
    EXPECT_EQ(value.size(), sizeof(KSMULTIPLE_ITEM) + 2 * sizeof(KSDATARANGE_AUDIO));
    auto second = At<KSDATARANGE_AUDIO>(value, sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE_AUDIO));
    EXPECT_EQ(second.MaximumSampleFrequency, 48000u);
    EXPECT_TRUE(IsEqualGUID(second.DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
}

TEST_F(KsPropertyTest, InterfacesAndMediumsDefaultToTheStandardOnes)
{
    NTSTATUS status;
    std::vector<uint8_t> interfaces = PinValue(kRenderPin, KSPROPERTY_PIN_INTERFACES, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(At<KSMULTIPLE_ITEM>(interfaces, 0).Count, 1u);
    auto standard = At<KSPIN_INTERFACE>(interfaces, sizeof(KSMULTIPLE_ITEM));
    EXPECT_TRUE(IsEqualGUID(standard.Set, KSINTERFACESETID_Standard));
    EXPECT_EQ(standard.Id, ULONG(KSINTERFACE_STANDARD_STREAMING));
    std::vector<uint8_t> mediums = PinValue(kRenderPin, KSPROPERTY_PIN_MEDIUMS, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    auto medium = At<KSPIN_MEDIUM>(mediums, sizeof(KSMULTIPLE_ITEM));
    EXPECT_TRUE(IsEqualGUID(medium.Set, KSMEDIUMSETID_Standard));
    EXPECT_EQ(medium.Id, ULONG(KSMEDIUM_TYPE_ANYINSTANCE));
}

TEST_F(KsPropertyTest, TopologyListsCategoriesNodesAndConnections)
{
    NTSTATUS status;
    std::vector<uint8_t> categories = FilterValue(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CATEGORIES, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(At<KSMULTIPLE_ITEM>(categories, 0).Count, 3u);
    EXPECT_TRUE(IsEqualGUID(At<GUID>(categories, sizeof(KSMULTIPLE_ITEM) + sizeof(GUID)), KSCATEGORY_RENDER));
    std::vector<uint8_t> nodes = FilterValue(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(At<KSMULTIPLE_ITEM>(nodes, 0).Count, 1u);
    EXPECT_TRUE(IsEqualGUID(At<GUID>(nodes, sizeof(KSMULTIPLE_ITEM)), KSNODETYPE_DAC));
    std::vector<uint8_t> connections = FilterValue(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(At<KSMULTIPLE_ITEM>(connections, 0).Count, 2u);
    auto last = At<KSTOPOLOGY_CONNECTION>(connections, sizeof(KSMULTIPLE_ITEM) + sizeof(KSTOPOLOGY_CONNECTION));
    EXPECT_EQ(last.ToNode, KSFILTER_NODE);
    EXPECT_EQ(last.ToNodePin, kBridgePin);
}

TEST_F(KsPropertyTest, PinNameComesFromTheRegisteredMediaCategory)
{
    ASSERT_TRUE(kmsim::CreateKey("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\MediaCategories\\"
                                 "{185FEDF8-9905-11D1-95A9-00C04FB925D3}"));
    ASSERT_TRUE(kmsim::SetString("\\Registry\\Machine\\System\\CurrentControlSet\\Control\\MediaCategories\\"
                                 "{185FEDF8-9905-11D1-95A9-00C04FB925D3}",
                                 "Name", "MIDI"));
    NTSTATUS status;
    std::vector<uint8_t> name = PinValue(kMidiPin, KSPROPERTY_PIN_NAME, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_EQ(name.size(), 10u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.data())), u"MIDI");
    EXPECT_EQ(PinValue(kRenderPin, KSPROPERTY_PIN_NAME, &status).size(), 0u);
    EXPECT_EQ(status, STATUS_NOT_FOUND);  // no name registered for KSCATEGORY_RENDER
}

TEST_F(KsPropertyTest, MinidriverPinNameItemWinsOverTheStandardAnswer)
{
    filter_.reset();
    ASSERT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    State().pinNameHandled = true;
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    filter_ = OpenFilter();
    NTSTATUS status;
    std::vector<uint8_t> name = PinValue(kMidiPin, KSPROPERTY_PIN_NAME, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name.data())), u"P1");
}

TEST_F(KsPropertyTest, SizeQueryOverflowsWithTheSizeAndShortBuffersAreTooSmall)
{
    ULONG_PTR returned = 0;
    EXPECT_EQ(filter_->PinProperty(kRenderPin, KSPROPERTY_PIN_DATARANGES, nullptr, 0, &returned),
              STATUS_BUFFER_OVERFLOW);
    ULONG_PTR needed = returned;
    EXPECT_EQ(needed, sizeof(KSMULTIPLE_ITEM) + 2 * sizeof(KSDATARANGE_AUDIO));
    std::vector<uint8_t> shortBuffer(needed - 1, 0xEE);
    EXPECT_EQ(filter_->PinProperty(kRenderPin, KSPROPERTY_PIN_DATARANGES, shortBuffer.data(),
                                   ULONG(shortBuffer.size()), &returned),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(returned, needed);
    EXPECT_EQ(shortBuffer[0], 0xEE);  // nothing written
}

TEST_F(KsPropertyTest, UnknownSetsAndIdsAreNotFound)
{
    ULONG value = 0;
    GUID unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(filter_->Property(unknown, 0, KSPROPERTY_TYPE_GET, &value, sizeof(value)), STATUS_NOT_FOUND);
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, 99, KSPROPERTY_TYPE_GET, &value, sizeof(value)), STATUS_NOT_FOUND);
    EXPECT_EQ(filter_->Property(KSPROPSETID_Pin, 77, KSPROPERTY_TYPE_GET, &value, sizeof(value)), STATUS_NOT_FOUND);
    EXPECT_EQ(filter_->Property(unknown, 0, KSPROPERTY_TYPE_BASICSUPPORT, &value, sizeof(value)), STATUS_NOT_FOUND);
}

TEST_F(KsPropertyTest, PinIdOutOfRangeIsInvalid)
{
    KSPIN_DATAFLOW flow{};
    EXPECT_EQ(filter_->PinProperty(kPinCount, KSPROPERTY_PIN_DATAFLOW, &flow, sizeof(flow)), STATUS_INVALID_PARAMETER);
}

TEST_F(KsPropertyTest, TableItemGetsAndSetsThroughItsHandler)
{
    ULONG value = 0;
    ULONG_PTR returned = 0;
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_GET, &value, sizeof(value),
                                &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(returned, sizeof(ULONG));
    value = 12;
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_SET, &value, sizeof(value)),
              STATUS_SUCCESS);
    EXPECT_EQ(State().testValue, 12u);
}

TEST_F(KsPropertyTest, TableItemBelowMinDataIsRefusedWithTheSizeNeeded)
{
    ULONG_PTR returned = 0;
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_GET, nullptr, 0, &returned),
              STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(returned, sizeof(ULONG));
    uint8_t small[3] = {};
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_GET, small, sizeof(small),
                                &returned),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_SET, small, sizeof(small)),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(State().testValue, 7u);
}

TEST_F(KsPropertyTest, RequestBelowMinPropertyIsTooSmall)
{
    filter_.reset();
    ASSERT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
    State().pinNameHandled = true;
    ASSERT_EQ(Plug(), STATUS_SUCCESS);
    filter_ = OpenFilter();
    // The name item wants a KSP_PIN; a bare KSPROPERTY is short.
    WCHAR name[8];
    EXPECT_EQ(filter_->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, KSPROPERTY_TYPE_GET, name, sizeof(name)),
              STATUS_BUFFER_TOO_SMALL);
}

TEST_F(KsPropertyTest, BasicSupportReportsAccessFlags)
{
    ULONG access = 0;
    ULONG_PTR returned = 0;
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_BASICSUPPORT, &access,
                                sizeof(access), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof(ULONG));
    EXPECT_EQ(access, ULONG(KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET));
    KSPROPERTY_DESCRIPTION description{};
    EXPECT_EQ(filter_->Property(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_BASICSUPPORT, &description,
                                sizeof(description), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof(description));
    EXPECT_EQ(description.AccessFlags, ULONG(KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET));
    EXPECT_EQ(filter_->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_BASICSUPPORT, nullptr, 0,
                                &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, 0u);
}

TEST_F(KsPropertyTest, PinTableItemsServeRequestsOnThePin)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
    KSAUDIO_POSITION position{1000, 2000};
    EXPECT_EQ(pin->Property(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_SET, &position,
                            sizeof(position)),
              STATUS_SUCCESS);
    KSAUDIO_POSITION read{};
    EXPECT_EQ(pin->Property(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_GET, &read, sizeof(read)),
              STATUS_SUCCESS);
    EXPECT_EQ(read.PlayOffset, 1000u);
    EXPECT_EQ(read.WriteOffset, 2000u);
    // The filter's own table is not the pin's.
    ULONG value = 0;
    EXPECT_EQ(pin->Property(KSPROPSETID_Test, kTestValueProperty, KSPROPERTY_TYPE_GET, &value, sizeof(value)),
              STATUS_NOT_FOUND);
}

TEST_F(KsPropertyTest, PinConnectionFormatIsReadable)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin, 2, 24, 44100), STATUS_SUCCESS);
    KSDATAFORMAT_WAVEFORMATEX format{};
    ULONG_PTR returned = 0;
    EXPECT_EQ(pin->Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, KSPROPERTY_TYPE_GET, &format,
                            sizeof(format), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof(format));
    EXPECT_EQ(format.WaveFormatEx.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.WaveFormatEx.wBitsPerSample, 24u);
}

TEST_F(KsPropertyTest, DefaultIntersectionProposesAFormatInBothRanges)
{
    struct {
        KSP_PIN pin;
        KSMULTIPLE_ITEM list;
        KSDATARANGE_AUDIO range;
    } request{};
    request.pin.Property.Set = KSPROPSETID_Pin;
    request.pin.Property.Id = KSPROPERTY_PIN_DATAINTERSECTION;
    request.pin.Property.Flags = KSPROPERTY_TYPE_GET;
    request.pin.PinId = kRenderPin;
    request.list.Size = sizeof(request.list) + sizeof(request.range);
    request.list.Count = 1;
    request.range.DataRange.FormatSize = sizeof(KSDATARANGE_AUDIO);
    request.range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    request.range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_WILDCARD;
    request.range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    request.range.MaximumChannels = 8;
    request.range.MinimumBitsPerSample = 8;
    request.range.MaximumBitsPerSample = 16;
    request.range.MinimumSampleFrequency = 40000;
    request.range.MaximumSampleFrequency = 96000;
    KSDATAFORMAT_WAVEFORMATEX format{};
    ULONG_PTR returned = 0;
    EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_PROPERTY, &request, sizeof(request), &format, sizeof(format), &returned),
              STATUS_SUCCESS);
    EXPECT_EQ(returned, sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX));
    EXPECT_TRUE(IsEqualGUID(format.DataFormat.SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
    EXPECT_EQ(format.WaveFormatEx.nChannels, 2);
    EXPECT_EQ(format.WaveFormatEx.wBitsPerSample, 16);
    EXPECT_EQ(format.WaveFormatEx.nSamplesPerSec, 44100u);  // the first range both allow

    request.range.MaximumSampleFrequency = 32000;
    EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_PROPERTY, &request, sizeof(request), &format, sizeof(format)),
              STATUS_NO_MATCH);
    request.list.Size = sizeof(request) + 8;  // claims more than was sent
    EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_PROPERTY, &request, sizeof(request), &format, sizeof(format)),
              STATUS_INVALID_PARAMETER);
}

// Requests of every length from 0 to beyond a KSP_PIN, and outputs of every
// length, with the property fields set to things that exist: errors, never
// a crash or a read past the buffers (the sanitizer build checks the latter).
TEST_F(KsPropertyTest, HostileBufferLengthsGetErrorsNotCrashes)
{
    const std::pair<GUID, ULONG> targets[] = {
        {KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES}, {KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION},
        {KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES},     {KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NAME},
        {KSPROPSETID_Test, kTestValueProperty},        {KSPROPSETID_Pin, KSPROPERTY_PIN_NAME},
    };
    for (const auto& [set, id] : targets) {
        for (ULONG flags : {ULONG(KSPROPERTY_TYPE_GET), ULONG(KSPROPERTY_TYPE_SET), ULONG(KSPROPERTY_TYPE_BASICSUPPORT),
                            0u, 0xFFFFFFFFu}) {
            for (ULONG inBytes = 0; inBytes <= sizeof(KSP_PIN) + 12; ++inBytes) {
                for (ULONG outBytes : {0u, 1u, 3u, 4u, 7u, 8u, 40u}) {
                    std::vector<uint8_t> in(inBytes);
                    KSP_PIN pin{};
                    pin.Property.Set = set;
                    pin.Property.Id = id;
                    pin.Property.Flags = flags;
                    pin.PinId = 0xFFFF;
                    if (inBytes) memcpy(in.data(), &pin, std::min<size_t>(inBytes, sizeof(pin)));
                    std::vector<uint8_t> out(outBytes);
                    ULONG_PTR returned = 0;
                    NTSTATUS status = filter_->DeviceIoControl(IOCTL_KS_PROPERTY, inBytes ? in.data() : nullptr,
                                                               inBytes, outBytes ? out.data() : nullptr, outBytes,
                                                               &returned);
                    if (inBytes < sizeof(KSPROPERTY)) {
                        EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
                    }
                    if (NT_SUCCESS(status)) {
                        EXPECT_LE(returned, outBytes);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace kstest
