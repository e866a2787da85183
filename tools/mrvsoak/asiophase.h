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
    std::string fault;        // empty when every session was exact
};

AsioPhaseResult RunAsioPhase(std::mt19937_64& random, int sessions);
