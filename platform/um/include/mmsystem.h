// The multimedia timer (included by windows.h).
#pragma once

#include <windows.h>

typedef UINT MMRESULT;

#define TIMERR_BASE     96
#define TIMERR_NOERROR  0
#define TIMERR_NOCANDO  (TIMERR_BASE + 1)

MMRESULT WINAPI timeBeginPeriod(UINT uPeriod);
MMRESULT WINAPI timeEndPeriod(UINT uPeriod);
DWORD WINAPI timeGetTime(void);
