// Collects the client library's trace while in scope, at a chosen threshold.
#pragma once

#include "kstrace.h"

#include <algorithm>
#include <string>
#include <vector>

class TraceCapture {
public:
    explicit TraceCapture(LONG threshold = 6)
    {
        Lines().clear();
        KsSetTraceThreshold(threshold);
        KsSetTraceSink([](const char* text) { Lines().push_back(text); });
    }
    ~TraceCapture()
    {
        KsSetTraceSink(nullptr);
        KsSetTraceThreshold(0);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    const std::vector<std::string>& All() const { return Lines(); }
    bool Has(const std::string& line) const { return std::count(Lines().begin(), Lines().end(), line) > 0; }
    bool HasPrefix(const std::string& prefix) const
    {
        return std::any_of(Lines().begin(), Lines().end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    size_t Count(const std::string& line) const { return size_t(std::count(Lines().begin(), Lines().end(), line)); }
    // Position of the first line equal to `line` at or after `from`, or npos.
    size_t Find(const std::string& line, size_t from = 0) const
    {
        auto it = std::find(Lines().begin() + std::min(from, Lines().size()), Lines().end(), line);
        return it == Lines().end() ? std::string::npos : size_t(it - Lines().begin());
    }
    void Clear() { Lines().clear(); }

private:
    static std::vector<std::string>& Lines()
    {
        static std::vector<std::string> lines;
        return lines;
    }
};
