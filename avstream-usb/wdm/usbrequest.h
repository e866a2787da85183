// The driver's only path to the USB stack for control-plane work: URBs sent
// down as internal device control requests and waited for.
#pragma once

#include "kernelobject.h"

#include <usb.h>
#include <usbbusif.h>

// Sends the URB to target and waits. A request that does not complete within
// one second is cancelled; STATUS_TIMEOUT is returned only once the cancelled
// request has completed, so the caller may free the URB at once. A failure
// after pending is reported with the URB's USBD status.
NTSTATUS SubmitUrbSync(PDEVICE_OBJECT target, PURB urb);

// The USB bus interface (version 0) of the lower device, in a record from
// pool that the caller frees; null when the query fails.
PUSB_BUS_INTERFACE_USBDI_V0 QueryUsbdiInterface(PDEVICE_OBJECT lowerDevice);
