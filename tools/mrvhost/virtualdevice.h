// The kernel side of the host's virtual machine: the virtual Marvolan
// device, handed over type-erased so that the host's own files see only the
// Win32 headers.
#pragma once

#include <cstdint>

namespace usbsim {
class VirtualDevice;
}

// A new virtual device of the product with its audio output looped to its
// input after delayFrames bus frames and its MIDI output echoed to its input.
usbsim::VirtualDevice* NewLoopedDevice(uint16_t productId, uint32_t delayFrames);
