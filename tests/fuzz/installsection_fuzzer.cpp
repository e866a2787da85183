// Arbitrary bytes as an INF whose [Install] section the device installer
// runs: AddReg lines of any root, flags and data, Include/Needs, CopyFiles
// with no Windows root to copy into. Every run must end with an error code
// or success, and leave no handle open; the registry starts empty each time.
#include <windows.h>
#include <setupapi.h>

#include "fuzzinffile.h"
#include "um/bridge/kernelbridge.h"
#include "um/setupapi/installsection.h"
#include "um/umverifier.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const std::string& InfPath()
{
    static const std::string path = FuzzInfPath("installsection_fuzzer");
    return path;
}

// What the last run wrote goes, so the store does not grow run by run.
void ClearRegistry()
{
    for (const std::string root : {"\\Registry\\Machine", "\\Registry\\User"}) {
        for (const std::string& key : umsim::bridge::RegistrySubkeys(root)) umsim::bridge::RegistryDeleteKey(root + "\\" + key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t handles = umsim::OpenHandleCount();
    if (!WriteFuzzInf(InfPath(), data, size)) return 0;
    ClearRegistry();
    HINF inf = SetupOpenInfFileA(InfPath().c_str(), NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE) return 0;
    HKEY hkr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fuzz", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hkr, NULL) ==
        ERROR_SUCCESS) {
        umsim::RunInstallSection(inf, InfPath(), "Install", hkr);
        RegCloseKey(hkr);
    }
    SetupCloseInfFile(inf);
    if (umsim::OpenHandleCount() != handles) __builtin_trap();
    return 0;
}
