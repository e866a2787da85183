// The filter's own properties and names: the pin-name and UrbSize property
// handlers, and the friendly name kept in the device interface's key.
#pragma once

#include "kernelobject.h"

#include <windef.h>
#include <ks.h>

NTSTATUS PinNameHandler(PIRP irp, PKSIDENTIFIER request, PVOID data);
NTSTATUS UrbSizeHandler(PIRP irp, PKSIDENTIFIER request, PVOID data);

// Writes text (at most 31 characters are expected) as the FriendlyName of the
// factory's device interface.
NTSTATUS SetFriendlyName(PKSFILTERFACTORY factory, PCWSTR text);
// Reads FriendlyName into buffer (size bytes, zeroed first).
NTSTATUS ReadFriendlyName(PKSFILTERFACTORY factory, PWCHAR buffer, ULONG size);

// Formats into buffer of `characters` WCHARs; the result is always
// terminated. STATUS_BUFFER_OVERFLOW when the text was cut.
NTSTATUS FormatIntoBuffer(PWCHAR buffer, size_t characters, PCWSTR format, ...);
