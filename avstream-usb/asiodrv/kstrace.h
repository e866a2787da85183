// The kernel-streaming client library's trace: one routine, a threshold and
// a sink. Both start cleared, so the library is silent unless a debugging
// session sets them. Levels: 1 errors, 3 pin-property read failures,
// 4 warnings, 5 information, 6 entry and exit of every method.
#pragma once

#include <windows.h>

typedef void (*PFNKSTRACESINK)(const char* pszText);

// Texts longer than 259 characters are cut there.
void KsTrace(LONG lLevel, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

// C names, so that a debugging session finds them in a module that links
// the library.
extern "C" {
void KsSetTraceThreshold(LONG lLevel);
LONG KsGetTraceThreshold();
void KsSetTraceSink(PFNKSTRACESINK pfnSink);
}

// The level-6 convention: "<Class::Method()> Enter" on entry; on exit
// "<Class::Method> Leave, returning 0x..." for an HRESULT or
// "<Class::Method()> Leave" otherwise.
constexpr LONG kKsTraceEnterLeave = 6;
inline void KsTraceEnter(const char* pszMethod) { KsTrace(kKsTraceEnterLeave, "%s Enter", pszMethod); }
inline void KsTraceLeave(const char* pszMethod) { KsTrace(kKsTraceEnterLeave, "%s Leave", pszMethod); }
inline HRESULT KsTraceLeave(const char* pszMethod, HRESULT hr)
{
    KsTrace(kKsTraceEnterLeave, "%s Leave, returning %#08x", pszMethod, (unsigned)hr);
    return hr;
}
