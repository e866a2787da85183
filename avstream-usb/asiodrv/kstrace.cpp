#include "kstrace.h"

#include <stdio.h>

namespace {

constexpr size_t kTraceBufferSize = 260;

// Set once by a debugging session before tracing starts; read on every call.
LONG g_lTraceThreshold = 0;
PFNKSTRACESINK g_pfnTraceSink = nullptr;

}  // namespace

void KsTrace(LONG lLevel, const char* pszFormat, ...)
{
    if (lLevel > g_lTraceThreshold) return;
    char szText[kTraceBufferSize];
    va_list args;
    va_start(args, pszFormat);
    int cch = _vsnprintf(szText, kTraceBufferSize - 1, pszFormat, args);
    va_end(args);
    // An error or a text that filled the limit comes back unterminated.
    if (cch < 0 || cch >= int(kTraceBufferSize - 1)) szText[kTraceBufferSize - 1] = '\0';
    if (g_pfnTraceSink) g_pfnTraceSink(szText);
}

void KsSetTraceThreshold(LONG lLevel) { g_lTraceThreshold = lLevel; }
LONG KsGetTraceThreshold() { return g_lTraceThreshold; }
void KsSetTraceSink(PFNKSTRACESINK pfnSink) { g_pfnTraceSink = pfnSink; }
