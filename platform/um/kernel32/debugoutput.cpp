// OutputDebugStringA into the sink of debugoutput.h.
#include "um/debugoutput.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <utility>

namespace umsim {
namespace {

struct Sink {
    std::mutex mutex;
    std::string text;   // guarded by mutex
    bool echo = false;  // guarded by mutex
};

Sink& TheSink()
{
    static Sink* sink = new Sink;
    return *sink;
}

}  // namespace

std::string TakeDebugOutput()
{
    Sink& sink = TheSink();
    std::lock_guard lock(sink.mutex);
    return std::exchange(sink.text, std::string());
}

void SetDebugOutputEcho(bool echo)
{
    Sink& sink = TheSink();
    std::lock_guard lock(sink.mutex);
    sink.echo = echo;
}

}  // namespace umsim

void WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    if (!lpOutputString) return;  // Windows ignores it too
    umsim::Sink& sink = umsim::TheSink();
    std::lock_guard lock(sink.mutex);
    sink.text += lpOutputString;
    if (sink.echo) fputs(lpOutputString, stderr);
}
