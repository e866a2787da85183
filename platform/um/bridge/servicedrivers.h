// Kernel drivers loaded as the PnP manager loads a service's driver: by the
// service key's ImagePath, from the virtual Windows root, each loaded once
// and unloaded when its last device goes.
#pragma once

#include <wdm.h>

#include "km/pnpmanager.h"

#include <string>

namespace umsim::bridge {

// Loads the service's driver unless it is loaded (the built-in generic
// class driver for its image, else the module the image path names, whose
// DriverEntry is called) and starts its stack on the device.
// STATUS_OBJECT_NAME_NOT_FOUND when the service or its image is missing,
// STATUS_PROCEDURE_NOT_FOUND when the image exports no DriverEntry.
NTSTATUS StartServiceStack(PDEVICE_OBJECT pdo, const std::string& instanceId, const std::string& service);

// Removes the device's stack (if it has one) and unloads its driver when
// no device of it is left.
void RemoveServiceStack(PDEVICE_OBJECT pdo, bool surprise, kmsim::OpenFiles openFiles);

}  // namespace umsim::bridge
