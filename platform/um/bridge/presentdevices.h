// The plugged devices of an installed machine by instance id, with the
// state their nodes report, and the stack started on each from its node.
#pragma once

#include <wdm.h>

#include "km/pnpmanager.h"

#include <string>

namespace umsim::bridge {

// The device is plugged under the instance id (its node recorded), with no
// stack yet. False when a device of that id is already present.
bool AttachPresentDevice(const std::string& instanceId, PDEVICE_OBJECT pdo);
// The outcome of starting a stack bound outside the node (a machine with
// one driver bound up front).
void RecordPresentDeviceStart(const std::string& instanceId, NTSTATUS status);
// Removes the stack on the PDO and forgets the device if it is the one
// present under the id (another machine may have plugged a twin); its
// node stays.
void DetachPresentDevice(const std::string& instanceId, PDEVICE_OBJECT pdo, bool surprise,
                         kmsim::OpenFiles openFiles);

}  // namespace umsim::bridge
