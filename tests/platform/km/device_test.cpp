#include "drivertestbed.h"

#include <gtest/gtest.h>

namespace {

TEST(Device, CreateGivesAZeroedExtensionAndLinksTheDriver)
{
    DRIVER_OBJECT driver{};
    PDEVICE_OBJECT first = nullptr, second = nullptr;
    ASSERT_EQ(IoCreateDevice(&driver, 64, nullptr, FILE_DEVICE_KS, 0, FALSE, &first), STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_KS, 0, FALSE, &second), STATUS_SUCCESS);
    EXPECT_EQ(first->StackSize, 1);
    EXPECT_EQ(first->DriverObject, &driver);
    EXPECT_EQ(first->DeviceType, ULONG(FILE_DEVICE_KS));
    EXPECT_TRUE(first->Flags & DO_DEVICE_INITIALIZING);
    ASSERT_NE(first->DeviceExtension, nullptr);
    auto extension = static_cast<const UCHAR*>(first->DeviceExtension);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(extension[i], 0);
    EXPECT_EQ(second->DeviceExtension, nullptr);
    EXPECT_EQ(driver.DeviceObject, second);
    EXPECT_EQ(second->NextDevice, first);
    IoDeleteDevice(second);
    EXPECT_EQ(driver.DeviceObject, first);
    IoDeleteDevice(first);
    EXPECT_EQ(driver.DeviceObject, nullptr);
}

TEST(Device, CreateFailsCleanlyWhenPoolRunsOut)
{
    DRIVER_OBJECT driver{};
    PDEVICE_OBJECT device = reinterpret_cast<PDEVICE_OBJECT>(1);
    kmsim::FailNthAllocation(1);
    EXPECT_EQ(IoCreateDevice(&driver, 16, nullptr, FILE_DEVICE_KS, 0, FALSE, &device), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(driver.DeviceObject, nullptr);
}

TEST(Device, AttachStacksOnTheTopAndGrowsTheStackSize)
{
    DRIVER_OBJECT driver{};
    PDEVICE_OBJECT bottom, middle, top;
    IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &bottom);
    IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &middle);
    IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &top);
    EXPECT_EQ(IoAttachDeviceToDeviceStack(middle, bottom), bottom);
    // Attaching to the bottom again lands on the current top.
    EXPECT_EQ(IoAttachDeviceToDeviceStack(top, bottom), middle);
    EXPECT_EQ(bottom->AttachedDevice, middle);
    EXPECT_EQ(middle->AttachedDevice, top);
    EXPECT_EQ(middle->StackSize, 2);
    EXPECT_EQ(top->StackSize, 3);
    IoDetachDevice(middle);
    EXPECT_EQ(middle->AttachedDevice, nullptr);
    IoDeleteDevice(top);
    IoDetachDevice(bottom);
    IoDeleteDevice(middle);
    IoDeleteDevice(bottom);
}

TEST(Device, DeletingADeviceStillInAStackIsReported)
{
    DRIVER_OBJECT driver{};
    PDEVICE_OBJECT lower, upper;
    IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower);
    IoCreateDevice(&driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper);
    IoAttachDeviceToDeviceStack(upper, lower);
    {
        kmsim::ExpectViolations violations;
        IoDeleteDevice(upper);
        EXPECT_TRUE(violations.Saw("device", "IoDetachDevice first"));
        IoDeleteDevice(lower);
        EXPECT_TRUE(violations.Saw("device", "attached above it"));
        EXPECT_EQ(violations.Seen().size(), 2u);
    }
    IoDetachDevice(lower);
    IoDeleteDevice(upper);
    IoDeleteDevice(lower);
}

}  // namespace
