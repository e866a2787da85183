// Storage for the GUIDs the driver declares itself and those of the USB
// headers: with ksguid.h first, the declarations that follow become
// definitions. The media GUIDs come from the kernel-streaming GUID library.
#include <ksguid.h>

#include "devicesettings.h"
#include "usbdevice.h"
