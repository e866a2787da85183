// A small device stack for the I/O manager tests: a driver object whose
// dispatch routines the tests choose, and devices attached into a stack.
#pragma once

#include "km/verifier.h"

#include <gtest/gtest.h>

#include <vector>

class DriverTestbed {
public:
    explicit DriverTestbed(int depth)
    {
        driver_ = {};
        for (int i = 0; i < depth; ++i) {
            PDEVICE_OBJECT device = nullptr;
            EXPECT_EQ(IoCreateDevice(&driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device), STATUS_SUCCESS);
            if (!devices_.empty()) IoAttachDeviceToDeviceStack(device, devices_.back());
            devices_.push_back(device);
        }
    }
    ~DriverTestbed()
    {
        for (size_t i = devices_.size(); i-- > 0;) {
            if (i > 0) IoDetachDevice(devices_[i - 1]);
            IoDeleteDevice(devices_[i]);
        }
    }
    DriverTestbed(const DriverTestbed&) = delete;
    DriverTestbed& operator=(const DriverTestbed&) = delete;

    PDRIVER_OBJECT Driver() { return &driver_; }
    // 0 is the bottom of the stack.
    PDEVICE_OBJECT Device(size_t level) { return devices_[level]; }
    PDEVICE_OBJECT Top() { return devices_.back(); }
    void SetDispatch(UCHAR major, PDRIVER_DISPATCH routine) { driver_.MajorFunction[major] = routine; }

private:
    DRIVER_OBJECT driver_;
    std::vector<PDEVICE_OBJECT> devices_;
};
