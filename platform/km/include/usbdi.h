// The USB driver interface: requests, records and internal control codes.
#pragma once

#include <usb.h>
#include <usbioctl.h>
