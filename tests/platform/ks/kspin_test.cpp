// Pin creation (format matching, instance limits, create requests of any
// shape), closing, state stepping, serialisation, and events.
#include "ksfixture.h"

#include "km/kscreaterequest.h"
#include "km/ksobjects.h"

#include <cstring>
#include <future>
#include <thread>

namespace kstest {
namespace {

using kmsim::KsClientHandle;

class KsPinTest : public KsFilterTest {
protected:
    void SetUp() override
    {
        KsFilterTest::SetUp();
        State().log.clear();
    }
};

struct FormatCase {
    const char* name;
    USHORT channels;
    USHORT bits;
    ULONG rate;
    NTSTATUS expected;
};

class KsRenderFormatTest : public KsPinTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(KsRenderFormatTest, DefaultIntersectionDecidesTheFormat)
{
    const FormatCase& c = GetParam();
    std::unique_ptr<KsClientHandle> pin;
    EXPECT_EQ(CreateRenderPin(*filter_, &pin, c.channels, c.bits, c.rate), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, KsRenderFormatTest,
                         ::testing::Values(FormatCase{"Stereo16At48k", 2, 16, 48000, STATUS_SUCCESS},
                                           FormatCase{"Mono24At44k", 1, 24, 44100, STATUS_SUCCESS},
                                           FormatCase{"ThreeChannels", 3, 16, 48000, STATUS_NO_MATCH},
                                           FormatCase{"EightBits", 2, 8, 48000, STATUS_NO_MATCH},
                                           FormatCase{"ThirtyTwoBits", 2, 32, 48000, STATUS_NO_MATCH},
                                           FormatCase{"Rate96k", 2, 16, 96000, STATUS_NO_MATCH},
                                           FormatCase{"NoChannels", 0, 16, 48000, STATUS_NO_MATCH}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(KsPinTest, CreateSetsTheFormatFromTheMatchedRangeThenCreates)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateRenderPin(*filter_, &pin, 2, 16, 48000), STATUS_SUCCESS);
    std::vector<std::string> expected = {"SetDataFormat 0 range 48000", "PinCreate 0"};
    EXPECT_EQ(State().log, expected);
    pin.reset();
    EXPECT_TRUE(Logged("PinClose 0"));
}

TEST_F(KsPinTest, WrongMajorFormatOrSpecifierDoesNotMatch)
{
    KSDATAFORMAT_WAVEFORMATEX format = WaveFormat(2, 16, 48000);
    format.DataFormat.Specifier = KSDATAFORMAT_SPECIFIER_DSOUND;
    std::unique_ptr<KsClientHandle> pin;
    EXPECT_EQ(filter_->CreatePin(StandardConnect(kRenderPin), &format.DataFormat, &pin), STATUS_NO_MATCH);
    format = WaveFormat(2, 16, 48000);
    format.DataFormat.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
    EXPECT_EQ(filter_->CreatePin(StandardConnect(kRenderPin), &format.DataFormat, &pin), STATUS_NO_MATCH);
    // A WAVEFORMATEX specifier without room for the WAVEFORMATEX.
    format = WaveFormat(2, 16, 48000);
    format.DataFormat.FormatSize = sizeof(KSDATAFORMAT);
    EXPECT_EQ(filter_->CreatePin(StandardConnect(kRenderPin), &format.DataFormat, &pin), STATUS_NO_MATCH);
    EXPECT_TRUE(State().log.empty());
}

TEST_F(KsPinTest, PinIdInterfaceAndMediumAreChecked)
{
    KSDATAFORMAT_WAVEFORMATEX format = WaveFormat(2, 16, 48000);
    std::unique_ptr<KsClientHandle> pin;
    EXPECT_EQ(filter_->CreatePin(StandardConnect(kPinCount), &format.DataFormat, &pin), STATUS_INVALID_PARAMETER);
    KSPIN_CONNECT connect = StandardConnect(kRenderPin);
    connect.Interface.Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
    EXPECT_EQ(filter_->CreatePin(connect, &format.DataFormat, &pin), STATUS_NO_MATCH);
    connect = StandardConnect(kRenderPin);
    connect.Medium.Set = KSINTERFACESETID_Standard;
    EXPECT_EQ(filter_->CreatePin(connect, &format.DataFormat, &pin), STATUS_NO_MATCH);
    // A bridge pin takes no connection.
    EXPECT_EQ(filter_->CreatePin(StandardConnect(kBridgePin), &format.DataFormat, &pin),
              STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(KsPinTest, InstanceLimitRefusesASecondRenderPinUntilTheFirstCloses)
{
    std::unique_ptr<KsClientHandle> first, second;
    ASSERT_EQ(CreateRenderPin(*filter_, &first), STATUS_SUCCESS);
    EXPECT_EQ(CreateRenderPin(*filter_, &second), STATUS_DEVICE_BUSY);
    first.reset();
    EXPECT_EQ(CreateRenderPin(*filter_, &second), STATUS_SUCCESS);
}

TEST_F(KsPinTest, IndeterminateInstancesAllowMany)
{
    std::vector<std::unique_ptr<KsClientHandle>> pins(5);
    for (auto& pin : pins) EXPECT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
}

TEST_F(KsPinTest, FailingCreateLeavesNoPin)
{
    State().pinCreateStatus = STATUS_INSUFFICIENT_RESOURCES;
    std::unique_ptr<KsClientHandle> pin;
    EXPECT_EQ(CreateRenderPin(*filter_, &pin), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(pin, nullptr);
    EXPECT_EQ(KsFilterGetChildPinCount(KsFilterFactoryGetFirstChildFilter(State().factory), kRenderPin), 0u);
    State().pinCreateStatus = STATUS_SUCCESS;
    EXPECT_EQ(CreateRenderPin(*filter_, &pin), STATUS_SUCCESS);
}

TEST_F(KsPinTest, PinCreateSeesItsPinThroughTheIrp)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    EXPECT_TRUE(Logged("PinCreate 2"));
}

TEST_F(KsPinTest, MalformedCreateNamesAreRefused)
{
    KSDATAFORMAT_WAVEFORMATEX format = WaveFormat(2, 16, 48000);
    std::u16string good = kmsim::ks::PinCreateFileName(StandardConnect(kRenderPin), &format.DataFormat);
    PDEVICE_OBJECT device = filter_->DeviceObject();
    std::unique_ptr<KsClientHandle> pin;
    // Every truncation of a good request, and a FormatSize beyond the name.
    for (size_t length = 0; length < good.size(); ++length) {
        EXPECT_EQ(KsClientHandle::Open(device, good.substr(0, length), filter_.get(), &pin), STATUS_INVALID_PARAMETER)
            << length;
    }
    std::u16string oversized = good;
    KSDATAFORMAT header;
    size_t formatAt = (good.size() * 2 - sizeof(KSDATAFORMAT_WAVEFORMATEX)) / 2;
    memcpy(&header, oversized.data() + formatAt, sizeof(header));
    header.FormatSize = 4096;
    memcpy(oversized.data() + formatAt, &header, sizeof(header));
    EXPECT_EQ(KsClientHandle::Open(device, oversized, filter_.get(), &pin), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(KsClientHandle::Open(device, good, filter_.get(), &pin), STATUS_SUCCESS);
}

TEST_F(KsPinTest, PinOnAPinHandleIsRefused)
{
    std::unique_ptr<KsClientHandle> pin, nested;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    KSDATAFORMAT_WAVEFORMATEX format = WaveFormat(2, 16, 48000);
    EXPECT_EQ(pin->CreatePin(StandardConnect(kRenderPin), &format.DataFormat, &nested), STATUS_INVALID_DEVICE_REQUEST);
}

// ---- States --------------------------------------------------------------------------

TEST_F(KsPinTest, StateChangesStepThroughEveryStateBothWays)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    State().log.clear();
    EXPECT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    EXPECT_EQ(pin->SetState(KSSTATE_ACQUIRE), STATUS_SUCCESS);
    std::vector<std::string> expected = {"State 2 0->1", "State 2 1->2", "State 2 2->3", "State 2 3->2",
                                         "State 2 2->1"};
    EXPECT_EQ(State().log, expected);
    KSSTATE state = KSSTATE_STOP;
    EXPECT_EQ(pin->GetState(&state), STATUS_SUCCESS);
    EXPECT_EQ(state, KSSTATE_ACQUIRE);
}

TEST_F(KsPinTest, AFailedStepStopsThereAndReportsTheFailure)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    State().failStateStepTo = KSSTATE_PAUSE;
    State().log.clear();
    EXPECT_EQ(pin->SetState(KSSTATE_RUN), STATUS_INSUFFICIENT_RESOURCES);
    std::vector<std::string> expected = {"State 2 0->1", "State 2 1->2"};
    EXPECT_EQ(State().log, expected);
    KSSTATE state = KSSTATE_STOP;
    EXPECT_EQ(pin->GetState(&state), STATUS_SUCCESS);
    EXPECT_EQ(state, KSSTATE_ACQUIRE);
}

TEST_F(KsPinTest, StateOutOfRangeIsInvalid)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    ULONG bogus = 7;
    EXPECT_EQ(pin->Property(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET, &bogus,
                            sizeof(bogus)),
              STATUS_INVALID_PARAMETER);
}

TEST_F(KsPinTest, ClosingARunningPinStepsItDownFirst)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
    State().log.clear();
    pin.reset();
    std::vector<std::string> expected = {"State 2 2->1", "State 2 1->0", "PinClose 2"};
    EXPECT_EQ(State().log, expected);
}

TEST_F(KsPinTest, ClosingTheFilterClosesItsPins)
{
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    filter_.reset();
    pin->Abandon();
    EXPECT_TRUE(Logged("PinClose 2 without IRP") || Logged("PinClose 2"));
    EXPECT_EQ(KsFilterFactoryGetFirstChildFilter(State().factory), nullptr);
}

// Pin creation holds the filter's control mutex: while Create runs, no other
// thread can take it.
TEST_F(KsPinTest, PinCreationIsSerialisedByTheFiltersControlMutex)
{
    bool heldElsewhere = false;
    State().onPinCreate = [&](PKSPIN pin) {
        auto* filter = reinterpret_cast<kmsim::ks::Filter*>(KsPinGetParentFilter(pin));
        std::future<bool> other = std::async(std::launch::async, [filter] {
            bool got = filter->control.try_lock();
            if (got) filter->control.unlock();
            return got;
        });
        heldElsewhere = !other.get();
    };
    std::unique_ptr<KsClientHandle> pin;
    ASSERT_EQ(CreateMidiPin(*filter_, &pin), STATUS_SUCCESS);
    EXPECT_TRUE(heldElsewhere);
}

// ---- Events ------------------------------------------------------------------------------

class KsEventTest : public KsPinTest {
protected:
    void SetUp() override
    {
        KsPinTest::SetUp();
        KeInitializeEvent(&event_, NotificationEvent, FALSE);
        data_.NotificationType = KSEVENTF_EVENT_HANDLE;
        data_.EventHandle.Event = &event_;
    }
    void Generate()
    {
        PKSFILTER filter = KsFilterFactoryGetFirstChildFilter(State().factory);
        ULONG value = 5;
        KsGenerateEvents(filter, &KSEVENTSETID_Test, kTestEvent, sizeof(value), &value, nullptr, nullptr);
    }
    KEVENT event_;
    KSEVENTDATA data_{};
};

TEST_F(KsEventTest, EnabledEventIsSignalledByGenerateEvents)
{
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
    Generate();
    EXPECT_NE(KeReadStateEvent(&event_), 0);
    EXPECT_EQ(filter_->DisableEvent(&data_), STATUS_SUCCESS);
}

TEST_F(KsEventTest, DisabledEventIsNoLongerSignalled)
{
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_), STATUS_SUCCESS);
    ASSERT_EQ(filter_->DisableEvent(&data_), STATUS_SUCCESS);
    Generate();
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
    EXPECT_EQ(filter_->DisableEvent(&data_), STATUS_NOT_FOUND);
}

TEST_F(KsEventTest, ClosingTheFilterRemovesItsEvents)
{
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_), STATUS_SUCCESS);
    filter_.reset();
    auto other = OpenFilter();
    PKSFILTER filter = KsFilterFactoryGetFirstChildFilter(State().factory);
    KsGenerateEvents(filter, &KSEVENTSETID_Test, kTestEvent, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
}

TEST_F(KsEventTest, EventsReachOnlyTheFilterTheyWereEnabledOn)
{
    auto other = OpenFilter();
    ASSERT_EQ(other->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_), STATUS_SUCCESS);
    Generate();  // the first filter
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
    KsGenerateEvents(KsFilterGetNextSiblingFilter(KsFilterFactoryGetFirstChildFilter(State().factory)),
                     &KSEVENTSETID_Test, kTestEvent, 0, nullptr, nullptr, nullptr);
    EXPECT_NE(KeReadStateEvent(&event_), 0);
}

TEST_F(KsEventTest, CallbackChoosesWhichEntriesFire)
{
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_), STATUS_SUCCESS);
    PKSFILTER filter = KsFilterFactoryGetFirstChildFilter(State().factory);
    KsGenerateEvents(filter, &KSEVENTSETID_Test, kTestEvent, 0, nullptr,
                     [](PVOID, PKSEVENT_ENTRY) -> BOOLEAN { return FALSE; }, nullptr);
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
}

TEST_F(KsEventTest, OneShotEventFiresOnce)
{
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_, KSEVENT_TYPE_ONESHOT), STATUS_SUCCESS);
    Generate();
    EXPECT_NE(KeReadStateEvent(&event_), 0);
    KeClearEvent(&event_);
    Generate();
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
}

struct BadEnable {
    const char* name;
    GUID set;
    ULONG id;
    ULONG notification;
    bool withEvent;
    NTSTATUS expected;
};

class KsBadEnableTest : public KsEventTest, public ::testing::WithParamInterface<BadEnable> {};

TEST_P(KsBadEnableTest, IsRefused)
{
    const BadEnable& c = GetParam();
    data_.NotificationType = c.notification;
    if (!c.withEvent) data_.EventHandle.Event = nullptr;
    EXPECT_EQ(filter_->EnableEvent(c.set, c.id, &data_), c.expected);
    Generate();
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, KsBadEnableTest,
    ::testing::Values(BadEnable{"UnknownSet", KSPROPSETID_Test, kTestEvent, KSEVENTF_EVENT_HANDLE, true, STATUS_NOT_FOUND},
                      BadEnable{"UnknownId", KSEVENTSETID_Test, 9, KSEVENTF_EVENT_HANDLE, true, STATUS_NOT_FOUND},
                      BadEnable{"DpcNotification", KSEVENTSETID_Test, kTestEvent, KSEVENTF_DPC, true,
                                STATUS_INVALID_PARAMETER},
                      BadEnable{"NoEvent", KSEVENTSETID_Test, kTestEvent, KSEVENTF_EVENT_HANDLE, false,
                                STATUS_INVALID_PARAMETER}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KsEventTest, ShortEnableBuffersAreRefused)
{
    KSEVENT event{};
    event.Set = KSEVENTSETID_Test;
    event.Id = kTestEvent;
    event.Flags = KSEVENT_TYPE_ENABLE;
    for (ULONG inBytes = 0; inBytes < sizeof(KSEVENT); ++inBytes) {
        EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_ENABLE_EVENT, &event, inBytes, &data_, sizeof(data_)),
                  STATUS_INVALID_PARAMETER);
    }
    for (ULONG outBytes = 0; outBytes < sizeof(KSEVENTDATA); ++outBytes) {
        EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_ENABLE_EVENT, &event, sizeof(event), &data_, outBytes),
                  STATUS_BUFFER_TOO_SMALL);
    }
}

TEST_F(KsEventTest, DisableWithoutDataRemovesEveryEventOfTheHandle)
{
    KSEVENTDATA second = data_;
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &data_), STATUS_SUCCESS);
    ASSERT_EQ(filter_->EnableEvent(KSEVENTSETID_Test, kTestEvent, &second), STATUS_SUCCESS);
    EXPECT_EQ(filter_->DeviceIoControl(IOCTL_KS_DISABLE_EVENT, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    Generate();
    EXPECT_EQ(KeReadStateEvent(&event_), 0);
}

}  // namespace
}  // namespace kstest
