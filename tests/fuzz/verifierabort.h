// Kernel-side fuzz targets: a verifier finding stops the run.
#pragma once

#include "fuzzeroptions.h"
#include "km/verifier.h"

#include <cstdio>
#include <cstdlib>

// A verifier finding is a fault like a crash: say what it was and stop, so
// that libFuzzer keeps the input.
inline void AbortOnVerifierFindings()
{
    kmsim::SetViolationHandler([](const kmsim::Violation& v) {
        std::fprintf(stderr, "verifier (%s): %s\n", v.category.c_str(), v.message.c_str());
        std::abort();
    });
}
