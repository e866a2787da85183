// Prints what the driver built for a device: the USB model, its streams and
// MIDI endpoints, and the kernel-streaming filter layout.
#pragma once

#include "usbaudiodevice.h"

#include <ostream>

void PrintUsbModel(std::ostream& out, UsbAudioDevice& device);
void PrintStreamsAndEndpoints(std::ostream& out, UsbAudioDevice& device);
void PrintFilterLayout(std::ostream& out, const KSFILTER_DESCRIPTOR& filter);
