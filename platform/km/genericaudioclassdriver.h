// The system's own generic USB audio class driver, service "usbaudio",
// built into the platform as Windows has it in the box. It is a stand-in:
// it attaches a function device object and follows start, power and removal,
// but publishes no filter, so a device bound to it is visibly not ours.
#pragma once

#include <wdm.h>

namespace kmsim {

// The image file Windows loads for the service, and its entry.
constexpr char kGenericAudioClassImage[] = "usbaudio.sys";
NTSTATUS GenericAudioClassDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

}  // namespace kmsim
