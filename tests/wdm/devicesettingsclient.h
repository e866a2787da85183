// What a client of the filter reads and sets of the device as a whole: the
// UrbSize property, and (for tests that look behind it) the driver's
// context of the device the filter belongs to.
#pragma once

#include "km/ksclient.h"
#include "km/ksdevice.h"
#include "devicesettings.h"
#include "usbaudiodevice.h"

#include <ks.h>
#include <ksmedia.h>

#include <gtest/gtest.h>

inline ULONG GetUrbSize(kmsim::KsClientHandle* filter)
{
    ULONG value = 0;
    EXPECT_EQ(filter->Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, KSPROPERTY_TYPE_GET,
                               &value, sizeof(value)),
              STATUS_SUCCESS);
    return value;
}

inline NTSTATUS SetUrbSize(kmsim::KsClientHandle* filter, ULONG value)
{
    return filter->Property(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, KSPROPERTY_TYPE_SET,
                            &value, sizeof(value));
}

// The driver's per-device context behind an open filter.
inline UsbAudioDevice* DeviceContext(kmsim::KsClientHandle& filter)
{
    kmsim::ks::Device* device = kmsim::ks::DeviceOfFunctionalDeviceObject(filter.DeviceObject());
    return device ? static_cast<UsbAudioDevice*>(device->ks.Context) : nullptr;
}
