#include "drivertrace.h"

#include <stdio.h>
#include <stdarg.h>

#include <atomic>

namespace {
// Written at init on the host's thread, read on every thread.
std::atomic<bool> g_traceOn{false};
}

void DriverTraceEnable(bool on) { g_traceOn = on; }

void DriverTrace(const char* format, ...)
{
    if (!g_traceOn) return;
    char line[256];
    va_list args;
    va_start(args, format);
    int written = _vsnprintf(line, 254, format, args);
    va_end(args);
    // _vsnprintf leaves a text that did not fit unterminated.
    line[written < 0 ? 254 : written] = '\0';
    OutputDebugStringA(line);
}
