// Kernel debug output: collected for tests to read, echoed to stderr when
// MRV_DEBUGPRINT is set in the environment.
#include <wdm.h>

#include "km/verifier.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_output;

}  // namespace

ULONG DbgPrint(PCSTR Format, ...)
{
    va_list args;
    va_start(args, Format);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, Format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(size_t(length) + 1);
        vsnprintf(text.data(), text.size(), Format, args);
        text.resize(size_t(length));
    }
    va_end(args);
    {
        std::lock_guard lock(g_mutex);
        g_output += text;
    }
    if (getenv("MRV_DEBUGPRINT")) fputs(text.c_str(), stderr);
    return STATUS_SUCCESS;
}

namespace kmsim {

std::string DebugOutput()
{
    std::lock_guard lock(g_mutex);
    return g_output;
}

void ClearDebugOutput()
{
    std::lock_guard lock(g_mutex);
    g_output.clear();
}

}  // namespace kmsim
