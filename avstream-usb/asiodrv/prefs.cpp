#include "prefs.h"

#include "drivertrace.h"

#include <cstring>

namespace {

bool readDword(HKEY key, LPCSTR name, DWORD& value)
{
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<LPBYTE>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
        return false;
    }
    value = data;
    return true;
}

void readString(HKEY key, LPCSTR name, CHAR (&text)[MAX_PATH])
{
    CHAR data[MAX_PATH] = {};
    DWORD type = 0, size = sizeof data - 1;
    // A value that is not a string, or does not fit, leaves the field alone.
    if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<LPBYTE>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return;
    }
    data[size < sizeof data ? size : sizeof data - 1] = '\0';
    memcpy(text, data, sizeof text);
}

LONG clampKsPackets(DWORD stored)
{
    LONG value = LONG(stored);
    if (value < kMinKsPackets) return kMinKsPackets;
    if (value > kMaxKsPackets) return kMaxKsPackets;
    return value;
}

}  // namespace

bool loadPrefs(Prefs& prefs)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPrefsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    DWORD value = 0;
    readString(key, "FilterPath", prefs.filterPath);
    // Present as a DWORD, whatever its value, switches the trace on.
    DriverTraceEnable(readDword(key, "DebugTrace", value));
    if (readDword(key, "NumKsPackets", value)) prefs.numKsPackets = clampKsPackets(value);
    if (readDword(key, "BufferSwitchDirect", value)) prefs.bufferSwitchDirect = LONG(value);
    if (readDword(key, "SampleFormat", value)) prefs.sampleFormat = value;
    if (readDword(key, "SampleRate", value)) prefs.sampleRate = LONG(value);
    if (prefs.sampleFormat >= ARRAYSIZE(kSampleFormats)) prefs.sampleFormat = kDefaultSampleFormat;
    RegDeleteValueA(key, "reset");
    RegCloseKey(key);
    return true;
}

bool savePrefs(const Prefs& prefs)
{
    HKEY key = NULL;
    LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, kPrefsKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                     NULL, &key, NULL);
    if (status != ERROR_SUCCESS) {
        DriverTrace("CRegKey::Create() returned %d\n", int(status));
        return false;
    }
    DWORD format = prefs.sampleFormat, rate = DWORD(prefs.sampleRate);
    bool ok = RegSetValueExA(key, "SampleFormat", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&format),
                             sizeof format) == ERROR_SUCCESS;
    ok = RegSetValueExA(key, "SampleRate", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&rate), sizeof rate) ==
             ERROR_SUCCESS && ok;
    ok = RegSetValueExA(key, "FilterPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(prefs.filterPath),
                        DWORD(strnlen(prefs.filterPath, MAX_PATH - 1) + 1)) == ERROR_SUCCESS && ok;
    RegCloseKey(key);
    return ok;
}
