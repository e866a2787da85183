// The driver's own trace: lines to the debugger output while the per-user
// settings carry a "DebugTrace" DWORD, silent otherwise.
#pragma once

#include <windows.h>

// Off when the module is loaded; set once per init from the settings (the
// host's thread writes it, every thread reads it).
void DriverTraceEnable(bool on);

// Lines with arguments are cut at 254 characters.
void DriverTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
