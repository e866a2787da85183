// A stretch of the soak with the ASIO driver, as a host meets it: a virtual
// Windows with the driver package installed and the looping product 0x10
// plugged, the ASIO driver created by its CLSID, sessions of random length
// started and stopped, the buffer length changed on the driver's control
// panel between them. Every session must come back sample-exact.
//
// Kept apart from the kernel-side files: this one sees only Win32 headers.
#pragma once

#include <cstdint>
#include <random>
#include <string>

struct AsioPhaseResult {
    uint64_t sessions = 0;
    uint64_t panelChanges = 0;
    uint64_t samplesChecked = 0;
    uint64_t streamedMs = 0;  // of audio, at the stream's rate
    // Sessions whose loop had a gap while the virtual bus's clock had run
    // past the host (the machine too busy to run the host in time, as a
    // real-time host on a loaded machine would glitch): counted, not faults.
    uint64_t glitchesUnderLoad = 0;
    std::string fault;        // empty when every session was exact
};

AsioPhaseResult RunAsioPhase(std::mt19937_64& random, int sessions);
