// The INF files a Windows installation ships, so that a fresh virtual
// Windows root has the system's own drivers to compete with a package's
// (the generic USB audio class driver, "wdma_usb.inf") and the system
// sections that drivers' packages include (kernel streaming, the audio stack).
#pragma once

#include <cstddef>
#include <string>

namespace umsim {

struct SystemInf {
    const char* fileName;  // in the system's INF folder
    const char* text;
};
extern const SystemInf kSystemInfs[];
extern const size_t kSystemInfCount;

// Writes the system INF files missing from the open root's INF folder.
bool InstallSystemInfs(std::string* error);

}  // namespace umsim
