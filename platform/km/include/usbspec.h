// The standard descriptors under their newer header name.
#pragma once
#include <usb100.h>
