// What Win32 reports for a kernel status (RtlNtStatusToDosError's table,
// for the statuses the emulated kernel and its drivers return).
#pragma once

#include <windows.h>

namespace umsim {

DWORD Win32ErrorFromNtStatus(int32_t status);

}  // namespace umsim
