// The device's whole life through the PnP manager, again and again, and
// with every allocation of its start failing in turn: nothing may leak or
// trip the verifier.
#include "devicesettings.h"
#include "faultmatrix.h"

namespace {

using matrix::DriverPoolBytes;

// One life: plug, power down and up, change UrbSize with a client watching
// the settings event, unplug. The event must have fired.
void LiveOnce(DriverTestBed& bed, ULONG urbSize)
{
    ASSERT_EQ(bed.Plug(hardware::kAudioMidi), STATUS_SUCCESS);
    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(kmsim::SetDevicePowerState(bed.Pdo(), PowerDeviceD0), STATUS_SUCCESS);

    kmsim::KsClientHandle* filter = bed.OpenFilter();
    ASSERT_NE(filter, nullptr);
    KEVENT changed;
    KeInitializeEvent(&changed, NotificationEvent, FALSE);
    KSEVENTDATA data{};
    data.NotificationType = KSEVENTF_EVENT_HANDLE;
    data.EventHandle.Event = &changed;
    ASSERT_EQ(filter->EnableEvent(KSEVENTSETID_DeviceSettings, KSEVENT_DEVICESETTINGS_CHANGED, &data), STATUS_SUCCESS);
    ASSERT_EQ(filter->Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, KSPROPERTY_TYPE_SET,
                               &urbSize, sizeof(urbSize)),
              STATUS_SUCCESS);
    EXPECT_NE(KeReadStateEvent(&changed), 0);
    ASSERT_EQ(filter->DisableEvent(&data), STATUS_SUCCESS);
    bed.Unplug();
}

TEST(DriverLifecycle, AThousandLivesLeaveNoPoolBehind)
{
    {
        DriverTestBed bed;
        for (ULONG life = 0; life < 1000; ++life) {
            LiveOnce(bed, 2 + life % 20);
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_EQ(DriverPoolBytes(), 0u) << kmsim::PoolLeakReport();
}

// Fails the nth allocation from Add on and checks the device either came up
// whole or has no filter, and that unplugging leaves nothing.
TEST(DriverLifecycle, EveryFailedAllocationDuringStartIsSurvived)
{
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("failing allocation " + std::to_string(n));
        {
            DriverTestBed bed;
            ASSERT_EQ(bed.Load(), STATUS_SUCCESS);
            const uint64_t failuresBefore = kmsim::InjectedFailures();
            // Armed once the bus has the device: from here on every
            // allocation is the stack's (PnP, kernel streaming, the driver).
            NTSTATUS status = bed.Plug(hardware::MakeDevice(hardware::kAudioMidi),
                                       [n](usbsim::BusDevice&) { kmsim::FailNthAllocation(n); });
            const bool injected = kmsim::InjectedFailures() > failuresBefore;
            kmsim::ClearPoolFaults();
            if (NT_SUCCESS(status)) {
                // Up whole, or without a filter: a published filter opens.
                kmsim::KsClientHandle* filter = bed.OpenFilter();
                if (!bed.Interfaces(KSCATEGORY_AUDIO).empty()) {
                    EXPECT_NE(filter, nullptr);
                }
                if (!injected) {
                    ASSERT_NE(filter, nullptr);
                    EXPECT_GT(n, 1u);
                    return;
                }
            } else {
                EXPECT_TRUE(injected) << "failed without an injected fault: 0x" << std::hex << status;
            }
        }
        ASSERT_EQ(DriverPoolBytes(), 0u) << kmsim::PoolLeakReport();
        ASSERT_LT(n, 5000u) << "the start never completed without a fault";
    }
}

}  // namespace
