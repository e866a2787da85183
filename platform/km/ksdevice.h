// The class driver's device side: the dispatch routines KsInitializeDriver
// installs, and the KS device behind a functional device object.
#pragma once

#include "km/ksobjects.h"

namespace kmsim::ks {

// The KS device whose functional device object this is, or null.
Device* DeviceOfFunctionalDeviceObject(PDEVICE_OBJECT deviceObject);

// Sends the IRP's current request on to the lower device and waits for it;
// the IRP comes back to the caller, who completes it.
NTSTATUS ForwardAndWait(PDEVICE_OBJECT lowerDevice, PIRP irp);

}  // namespace kmsim::ks
