// A bus PDO, the test minidriver loaded by the PnP manager, and helpers to
// plug the device and open its filter.
#pragma once

#include "km/ksclient.h"
#include "km/ksdeviceinterfaces.h"
#include "km/pnpmanager.h"
#include "km/registrystore.h"
#include "testminidriver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kstest {

inline const std::string kInstanceId = "USB\\VID_3A1E&PID_0010\\5&1a2b3c4d&0&1";
inline const std::u16string kAudioLink =
    u"\\??\\USB#VID_3A1E&PID_0010#5&1a2b3c4d&0&1#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";

class KsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetState();
        kmsim::Clear();
        busDriver_.DriverExtension = &busExtension_;
        ASSERT_EQ(IoCreateDevice(&busDriver_, 0, nullptr, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &pdo_), STATUS_SUCCESS);
        pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
        ASSERT_EQ(kmsim::LoadDriver("kstest", DriverEntry, &driver_), STATUS_SUCCESS);
    }

    void TearDown() override
    {
        if (kmsim::IsDevicePlugged(pdo_)) {
            EXPECT_EQ(kmsim::UnplugDevice(pdo_), STATUS_SUCCESS);
        }
        if (driver_) {
            EXPECT_EQ(kmsim::UnloadDriver(driver_), STATUS_SUCCESS);
        }
        if (pdo_) IoDeleteDevice(pdo_);
    }

    NTSTATUS Plug() { return kmsim::PlugDevice(driver_, pdo_, kInstanceId); }

    std::unique_ptr<kmsim::KsClientHandle> OpenFilter()
    {
        std::unique_ptr<kmsim::KsClientHandle> filter;
        EXPECT_EQ(kmsim::KsClientHandle::OpenFilter(kAudioLink, &filter), STATUS_SUCCESS);
        return filter;
    }

    NTSTATUS CreateRenderPin(kmsim::KsClientHandle& filter, std::unique_ptr<kmsim::KsClientHandle>* pin,
                             USHORT channels = 2, USHORT bits = 16, ULONG rate = 48000)
    {
        KSDATAFORMAT_WAVEFORMATEX format = WaveFormat(channels, bits, rate);
        return filter.CreatePin(StandardConnect(kRenderPin), &format.DataFormat, pin);
    }

    NTSTATUS CreateMidiPin(kmsim::KsClientHandle& filter, std::unique_ptr<kmsim::KsClientHandle>* pin)
    {
        KSDATAFORMAT format = DataFormat(sizeof(KSDATAFORMAT), KSDATAFORMAT_TYPE_MUSIC, KSDATAFORMAT_SUBTYPE_MIDI,
                                         KSDATAFORMAT_SPECIFIER_NONE);
        return filter.CreatePin(StandardConnect(kMidiPin), &format, pin);
    }

    bool Logged(const std::string& line) const
    {
        for (const auto& entry : State().log) {
            if (entry == line) return true;
        }
        return false;
    }

    DRIVER_OBJECT busDriver_{};
    DRIVER_EXTENSION busExtension_{};
    PDEVICE_OBJECT pdo_ = nullptr;
    PDRIVER_OBJECT driver_ = nullptr;
};

// The device plugged in and a client of its filter open.
class KsFilterTest : public KsTest {
protected:
    void SetUp() override
    {
        KsTest::SetUp();
        ASSERT_EQ(Plug(), STATUS_SUCCESS);
        filter_ = OpenFilter();
        ASSERT_NE(filter_, nullptr);
    }
    void TearDown() override
    {
        filter_.reset();
        KsTest::TearDown();
    }

    std::unique_ptr<kmsim::KsClientHandle> filter_;
};

}  // namespace kstest
