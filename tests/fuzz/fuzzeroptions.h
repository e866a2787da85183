// Options the platform-driving fuzz targets set for themselves.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <vector>

// The virtual machine keeps state across runs (devices a bus has seen,
// registry keys), so heap counts never balance per input and libFuzzer would
// run a full leak scan after every one. These targets prove the absence of
// leaks through the pool accounting instead; heap errors are still caught.
inline void DisablePerInputLeakScan(int* argc, char*** argv)
{
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    static char option[] = "-detect_leaks=0";
    args.push_back(option);
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
}
