// The kernel-streaming device dispatch: lifecycle of one USB audio device.
#pragma once

#include <ntddk.h>
#include <windef.h>
#include <ks.h>

extern const KSDEVICE_DISPATCH UsbAudioDeviceDispatch;
