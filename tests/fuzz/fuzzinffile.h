// The fuzz input as an INF file on disk, where SetupAPI reads it: in memory
// where the system offers it, since the targets write it for every input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

// The file of this process for the target named `name`.
inline std::string FuzzInfPath(const char* name)
{
    return std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/" + name + "_" +
           std::to_string(getpid()) + ".inf";
}

// Writes the input to the file; false when it cannot be written.
inline bool WriteFuzzInf(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    fwrite(data, 1, size, file);
    fclose(file);
    return true;
}
