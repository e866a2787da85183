// The ASIO drivers installed on this system, found as every host finds
// them: the sub-keys of HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, each naming its
// COM class in its "CLSID" value.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct InstalledAsioDriver {
    std::string name;         // the key's name, what hosts show
    std::string description;  // "Description", may be empty
    std::string clsidText;    // "CLSID" as stored
    CLSID clsid{};
    bool clsidValid = false;  // the text parsed as a CLSID
};

std::vector<InstalledAsioDriver> ListInstalledAsioDrivers();
