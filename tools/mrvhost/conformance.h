// A black-box conformance run of any ASIO driver: the call orders IASIO
// requires and what a driver must refuse, each checked on a fresh driver
// object, with a table of what held.
#pragma once

#include "asiointerface.h"
#include "hostsession.h"

#include <functional>
#include <string>
#include <vector>

struct ConformanceRow {
    std::string check;
    std::string expected;
    std::string got;
    bool held = false;
};

struct ConformanceOptions {
    void* sysHandle = nullptr;  // the window init is given
    DWORD streamMs = 500;       // real time each streaming check runs
    // The clock each streaming check's session tells, made for its rate.
    std::function<SessionClock(double rate)> clock;
};

// create makes a new driver object (a reference the run releases), or null
// when it cannot.
std::vector<ConformanceRow> CheckAsioDriver(const std::function<IASIO*()>& create, const ConformanceOptions& options);
