// Faults the bus injects, cancellation, unplugging, and the verifier's
// findings on malformed requests.
#include "hardware/devices.h"
#include "km/verifier.h"
#include "urbclient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

using usbsim::CompletionMode;
using usbsim::RequestFault;
using namespace usbtest;

class BusFaultTest : public testing::Test {
protected:
    usbsim::BusDevice& Plug(uint16_t productId)
    {
        return bus.Plug(hardware::MakeDevice(productId));
    }
    usbsim::Bus bus;
};

NTSTATUS SelectAlternate(usbsim::BusDevice& device, const Configuration& config, UCHAR number,
                         UCHAR alternate, ULONG pipes, USBD_STATUS* usbd = nullptr)
{
    UrbBuffer select = SelectInterfaceUrb(config.Handle(), number, alternate, pipes);
    const NTSTATUS status = Submit(device.Pdo(), select.Get());
    if (usbd) *usbd = select->UrbHeader.Status;
    return status;
}

TEST_F(BusFaultTest, RejectedAlternateSettingFailsWithNoBandwidth)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    device.RejectAlternateSetting(0, 1);
    Configuration config(device.Pdo());
    ASSERT_EQ(config.Status(), STATUS_SUCCESS);  // alternate setting 0 is not rejected
    for (int attempt = 0; attempt < 3; ++attempt) {
        USBD_STATUS usbd = 0;
        EXPECT_EQ(SelectAlternate(device, config, 0, 1, 2, &usbd), STATUS_UNSUCCESSFUL);
        EXPECT_EQ(ULONG(usbd), 0x80000700u);
    }
    EXPECT_EQ(device.CurrentAlternateSetting(0), 0);
}

TEST_F(BusFaultTest, RejectionLimitedToTheFirstAttemptsLetsTheNextOneThrough)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    device.SetCompletionMode(CompletionMode::Pending);
    device.RejectAlternateSetting(0, 1, 2);
    Configuration config(device.Pdo());
    EXPECT_EQ(SelectAlternate(device, config, 0, 1, 2), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(SelectAlternate(device, config, 0, 1, 2), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(SelectAlternate(device, config, 0, 1, 2), STATUS_SUCCESS);
    EXPECT_EQ(device.CurrentAlternateSetting(0), 1);
}

struct FailCase {
    const char* name;
    RequestFault::Action action;
    NTSTATUS returned;  // by IofCallDriver
};

class FailNthTest : public BusFaultTest, public testing::WithParamInterface<FailCase> {};

TEST_P(FailNthTest, FailsExactlyTheNthMatchingRequestWithTheChosenStatus)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    RequestFault fault;
    fault.action = GetParam().action;
    fault.nth = 2;
    fault.function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    fault.status = STATUS_DEVICE_DATA_ERROR;
    fault.usbdStatus = USBD_STATUS_DEV_NOT_RESPONDING;
    device.InjectFault(fault);

    USB_DEVICE_DESCRIPTOR d{};
    URB urb;
    for (int request = 1; request <= 3; ++request) {
        BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
        Submission s(device.Pdo(), &urb);
        if (request == 2) {
            EXPECT_EQ(s.Returned(), GetParam().returned);
            EXPECT_EQ(s.Wait(), STATUS_DEVICE_DATA_ERROR);
            EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_DEV_NOT_RESPONDING);
        } else {
            EXPECT_EQ(s.Wait(), STATUS_SUCCESS) << "request " << request;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, FailNthTest,
    testing::Values(FailCase{"AtOnce", RequestFault::Action::Fail, STATUS_DEVICE_DATA_ERROR},
                    FailCase{"AfterPending", RequestFault::Action::FailAfterPending, STATUS_PENDING}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BusFaultTest, NeverCompletedRequestEndsWhenCancelled)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    device.InjectFault({RequestFault::Action::NeverComplete, 1, {}, STATUS_SUCCESS, USBD_STATUS_SUCCESS});
    USB_DEVICE_DESCRIPTOR d{};
    URB urb;
    BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
    Submission s(device.Pdo(), &urb);
    ASSERT_EQ(s.Returned(), STATUS_PENDING);
    bus.Flush();
    EXPECT_EQ(bus.PendingCount(device), 1u);
    EXPECT_TRUE(s.Cancel());
    EXPECT_EQ(s.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(urb.UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_EQ(bus.PendingCount(device), 0u);
}

// What a driver's synchronous submit does: wait one second, then cancel and
// wait for the cancelled request to come back.
TEST_F(BusFaultTest, TimedOutWaitThenCancelGetsTheRequestBack)
{
    struct FastTimeouts {
        FastTimeouts() { kmsim::SetTimeoutScale(0.001); }
        ~FastTimeouts() { kmsim::SetTimeoutScale(1.0); }
    } fast;
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    device.InjectFault({RequestFault::Action::NeverComplete, 1, URB_FUNCTION_SELECT_CONFIGURATION,
                        STATUS_SUCCESS, USBD_STATUS_SUCCESS});
    URB urb{};
    urb.UrbHeader.Length = sizeof(_URB_SELECT_CONFIGURATION);
    urb.UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    Submission s(device.Pdo(), &urb);
    ASSERT_EQ(s.Returned(), STATUS_PENDING);
    EXPECT_EQ(s.WaitFor(10'000'000), STATUS_TIMEOUT);
    s.Cancel();
    EXPECT_EQ(s.Wait(), STATUS_CANCELLED);
}

TEST_F(BusFaultTest, CancellingAQueuedRequestCompletesItOnce)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    device.SetCompletionMode(CompletionMode::Pending);
    // Whichever wins, the worker or the cancel, the request completes once
    // with one of the two outcomes.
    for (int round = 0; round < 50; ++round) {
        USB_DEVICE_DESCRIPTOR d{};
        URB urb;
        BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
        Submission s(device.Pdo(), &urb);
        s.Cancel();
        const NTSTATUS status = s.Wait();
        EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << status;
    }
}

TEST_F(BusFaultTest, UnplugEndsPendingAndLaterRequests)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    std::vector<usbsim::BusDevice*> departed;
    bus.SetDepartureHandler([&](usbsim::BusDevice& d) { departed.push_back(&d); });
    Configuration config(device.Pdo());
    uint8_t data[64];
    URB read;
    BuildBulkTransfer(&read, config.Pipe(0, 1).PipeHandle, data, sizeof data, true);
    Submission transfer(device.Pdo(), &read);
    ASSERT_EQ(transfer.Returned(), STATUS_PENDING);

    bus.Unplug(device);
    EXPECT_EQ(transfer.Wait(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(read.UrbHeader.Status, USBD_STATUS_DEVICE_GONE);
    EXPECT_EQ(departed, std::vector<usbsim::BusDevice*>{&device});

    USB_DEVICE_DESCRIPTOR d{};
    URB later;
    BuildGetDescriptor(&later, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
    EXPECT_EQ(Submit(device.Pdo(), &later), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(later.UrbHeader.Status, USBD_STATUS_DEVICE_GONE);

    bus.Remove(device);
    EXPECT_EQ(device.Pdo(), nullptr);
}

TEST_F(BusFaultTest, PluggingAnnouncesThePdoWithStackSizeOne)
{
    usbsim::BusDevice* arrived = nullptr;
    bus.SetArrivalHandler([&](usbsim::BusDevice& d) { arrived = &d; });
    usbsim::BusDevice& device = Plug(hardware::kClassMidiLarge);
    ASSERT_EQ(arrived, &device);
    ASSERT_NE(device.Pdo(), nullptr);
    EXPECT_EQ(device.Pdo()->StackSize, 1);
    EXPECT_EQ(device.Pdo()->DriverObject, bus.DriverObject());
    EXPECT_EQ(usbsim::BusDeviceFromPdo(device.Pdo()), &device);
}

TEST_F(BusFaultTest, DeviceWhosePdoCannotBeCreatedNeverArrives)
{
    bool arrived = false;
    bus.SetArrivalHandler([&](usbsim::BusDevice&) { arrived = true; });
    kmsim::FailNthAllocation(1);
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    EXPECT_EQ(device.Pdo(), nullptr);
    EXPECT_FALSE(device.Connected());
    EXPECT_FALSE(arrived);
}

TEST(BusLifetime, CanBeCreatedAndDestroyedRepeatedlyWithDevicesLeftPlugged)
{
    for (int i = 0; i < 5; ++i) {
        usbsim::Bus bus;
        usbsim::BusDevice& device = bus.Plug(hardware::MakeDevice(hardware::kRawMidiB));
        Configuration config(device.Pdo());
        EXPECT_EQ(config.Status(), STATUS_SUCCESS);
    }
}

// ---- Verifier ----

TEST_F(BusFaultTest, ReportsAUrbWhoseLengthDoesNotMatchItsFunction)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    kmsim::ExpectViolations violations;
    USB_DEVICE_DESCRIPTOR d{};
    URB urb;
    BuildGetDescriptor(&urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &d, sizeof d);
    urb.UrbHeader.Length -= 4;
    EXPECT_EQ(Submit(device.Pdo(), &urb), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(violations.Saw("urb", "Length"));
    EXPECT_EQ(d.bLength, 0);  // nothing was served
}

TEST_F(BusFaultTest, ReportsASelectInterfaceSizedForTheWrongPipeCount)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    Configuration config(device.Pdo());
    kmsim::ExpectViolations violations;
    EXPECT_EQ(SelectAlternate(device, config, 0, 1, 1), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(violations.Saw("urb", "2 endpoints"));
    EXPECT_EQ(device.CurrentAlternateSetting(0), 0);
}

TEST_F(BusFaultTest, AcceptsBothIsochronousRequestSizes)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    Configuration config(device.Pdo());
    UrbBuffer select = SelectInterfaceUrb(config.Handle(), 0, 1, 2);
    ASSERT_EQ(Submit(device.Pdo(), select.Get()), STATUS_SUCCESS);
    const USBD_PIPE_HANDLE out = select->UrbSelectInterface.Interface.Pipes[0].PipeHandle;

    const ULONG packets = 8;
    for (size_t size : {sizeof(_URB_ISOCH_TRANSFER) + (packets - 1) * sizeof(USBD_ISO_PACKET_DESCRIPTOR),
                        GET_ISO_URB_SIZE(packets)}) {
        UrbBuffer iso(size);
        std::vector<uint8_t> data(packets * 588);
        auto& t = iso->UrbIsochronousTransfer;
        t.Hdr.Length = USHORT(size);
        t.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
        t.PipeHandle = out;
        t.TransferFlags = USBD_START_ISO_TRANSFER_ASAP;
        t.TransferBuffer = data.data();
        t.TransferBufferLength = ULONG(data.size());
        t.NumberOfPackets = packets;
        Submission s(device.Pdo(), iso.Get());
        EXPECT_EQ(s.Returned(), STATUS_PENDING) << size;
        URB abort;
        BuildPipeRequest(&abort, URB_FUNCTION_ABORT_PIPE, out);
        EXPECT_EQ(Submit(device.Pdo(), &abort), STATUS_SUCCESS);
        EXPECT_EQ(s.Wait(), STATUS_CANCELLED);
    }
}

TEST_F(BusFaultTest, ReportsAPipeHandleFromAnEarlierConfiguration)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    USBD_PIPE_HANDLE stale;
    {
        Configuration first(device.Pdo());
        stale = first.Pipe(0, 0).PipeHandle;
    }
    Configuration second(device.Pdo());
    kmsim::ExpectViolations violations;
    URB reset;
    BuildPipeRequest(&reset, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, stale);
    EXPECT_EQ(Submit(device.Pdo(), &reset), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(reset.UrbHeader.Status, USBD_STATUS_INVALID_PIPE_HANDLE);
    EXPECT_TRUE(violations.Saw("urb", "pipe handle"));
}

TEST_F(BusFaultTest, ReportsAPipeRequestOnADeconfiguredDevice)
{
    usbsim::BusDevice& device = Plug(hardware::kRawMidiA);
    Configuration config(device.Pdo());
    URB unconfigure{};
    unconfigure.UrbHeader.Length = sizeof(_URB_SELECT_CONFIGURATION);
    unconfigure.UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    ASSERT_EQ(Submit(device.Pdo(), &unconfigure), STATUS_SUCCESS);

    kmsim::ExpectViolations violations;
    URB abort;
    BuildPipeRequest(&abort, URB_FUNCTION_ABORT_PIPE, config.Pipe(0, 0).PipeHandle);
    EXPECT_FALSE(NT_SUCCESS(Submit(device.Pdo(), &abort)));
    EXPECT_TRUE(violations.Saw("urb", "not configured"));
}

TEST_F(BusFaultTest, ReportsSelectInterfaceWithAForeignConfigurationHandle)
{
    usbsim::BusDevice& device = Plug(hardware::kAudioMidi);
    Configuration config(device.Pdo());
    kmsim::ExpectViolations violations;
    UrbBuffer select = SelectInterfaceUrb(reinterpret_cast<USBD_CONFIGURATION_HANDLE>(0x1234), 0, 1, 2);
    EXPECT_EQ(Submit(device.Pdo(), select.Get()), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(violations.Saw("urb", "configuration handle"));
}

}  // namespace

namespace {

// A read sent while the cable is pulled: it is either swept up by the unplug
// or refused, never left pending on a device that is gone.
TEST(BusUnplugRace, ATransferAcceptedAsTheCableGoesIsStillCompleted)
{
    usbsim::Bus bus;
    constexpr int kRounds = 400;
    for (int round = 0; round < kRounds && !testing::Test::HasFailure(); ++round) {
        usbsim::BusDevice& device = bus.Plug(hardware::MakeDevice(hardware::kRawMidiA));
        Configuration config(device.Pdo());
        ASSERT_EQ(config.Status(), STATUS_SUCCESS);
        const USBD_PIPE_INFORMATION& pipe = config.Pipe(0, 1);

        struct Read {
            URB urb{};
            uint8_t data[64]{};
            std::unique_ptr<Submission> submission;
        };
        std::vector<std::unique_ptr<Read>> reads;
        std::atomic<int> sent{0};
        std::thread reader([&] {
            for (;;) {
                auto read = std::make_unique<Read>();
                BuildBulkTransfer(&read->urb, pipe.PipeHandle, read->data, sizeof read->data, true);
                read->submission = std::make_unique<Submission>(device.Pdo(), &read->urb);
                const bool refused = read->submission->Returned() != STATUS_PENDING;
                reads.push_back(std::move(read));
                ++sent;
                if (refused) return;
            }
        });
        while (sent.load() < 1 + round % 3) std::this_thread::yield();
        bus.Unplug(device);
        reader.join();
        bus.Flush();
        ASSERT_EQ(bus.Transfers(device, pipe.EndpointAddress).pending, 0u) << "round " << round;
        for (auto& read : reads) EXPECT_EQ(read->submission->Wait(), STATUS_DEVICE_NOT_CONNECTED);
    }
}

}  // namespace
