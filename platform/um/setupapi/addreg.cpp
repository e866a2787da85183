// AddReg lines written as Windows' installer writes them. Numbers are
// decimal or 0x-hexadecimal; binary data is one hexadecimal byte a field.
#include "um/setupapi/addreg.h"

#include "um/setupapi/compatibledrivers.h"
#include "um/setupapi/registrykey.h"

#include <cctype>
#include <cstdlib>
#include <strings.h>
#include <vector>

namespace umsim {
namespace {

bool RootOf(const std::string& name, HKEY relativeRoot, HKEY* root)
{
    const struct {
        const char* name;
        HKEY key;
    } kRoots[] = {{"HKR", relativeRoot},
                  {"HKLM", HKEY_LOCAL_MACHINE},
                  {"HKCU", HKEY_CURRENT_USER},
                  {"HKCR", HKEY_CLASSES_ROOT},
                  {"HKU", HKEY_USERS}};
    for (const auto& candidate : kRoots) {
        if (strcasecmp(name.c_str(), candidate.name) == 0) {
            *root = candidate.key;
            return *root != NULL;
        }
    }
    return false;
}

bool ReadNumber(const std::string& text, unsigned long long limit, DWORD* value)
{
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    if (!*digits || !isxdigit(static_cast<unsigned char>(*digits))) return false;
    char* end = nullptr;
    unsigned long long number = strtoull(digits, &end, hex ? 16 : 10);
    if (*end || number > limit) return false;
    *value = DWORD(number);
    return true;
}

// The data of the line's value (fields from 5 on) in the registry type the
// flags give; false when it does not read as that type.
bool ValueData(INFCONTEXT* line, DWORD flags, DWORD* type, std::vector<BYTE>* data)
{
    DWORD fields = SetupGetFieldCount(line);
    DWORD kind = flags & FLG_ADDREG_TYPE_MASK;
    auto appendText = [&](const std::string& text) { data->insert(data->end(), text.c_str(), text.c_str() + text.size() + 1); };
    switch (kind) {
    case FLG_ADDREG_TYPE_SZ:
    case FLG_ADDREG_TYPE_EXPAND_SZ:
        *type = kind == FLG_ADDREG_TYPE_SZ ? REG_SZ : REG_EXPAND_SZ;
        appendText(InfField(line, 5));
        return true;
    case FLG_ADDREG_TYPE_MULTI_SZ:
        *type = REG_MULTI_SZ;
        for (DWORD f = 5; f <= fields; ++f) appendText(InfField(line, f));
        data->push_back(0);
        return true;
    case FLG_ADDREG_TYPE_DWORD: {
        DWORD value = 0;
        if (fields != 5 || !ReadNumber(InfField(line, 5), 0xFFFFFFFF, &value)) return false;
        *type = REG_DWORD;
        data->assign(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + sizeof value);
        return true;
    }
    default:
        // Binary data, of REG_BINARY or of the type in the flags' high word.
        if (!(kind & FLG_ADDREG_BINVALUETYPE)) return false;
        *type = kind == FLG_ADDREG_TYPE_BINARY ? REG_BINARY : kind == FLG_ADDREG_TYPE_NONE ? REG_NONE : kind >> 16;
        for (DWORD f = 5; f <= fields; ++f) {
            DWORD byte = 0;
            std::string text = InfField(line, f);
            if (!ReadNumber("0x" + text, 0xFF, &byte)) return false;
            data->push_back(BYTE(byte));
        }
        return true;
    }
}

bool ValueExists(HKEY key, const std::string& name)
{
    return RegQueryValueExA(key, name.c_str(), NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
}

DWORD ApplyLine(INFCONTEXT* line, HKEY relativeRoot)
{
    HKEY root = NULL;
    DWORD flags = 0;
    std::string flagsText = InfField(line, 4);
    if (!RootOf(InfField(line, 1), relativeRoot, &root) ||
        (!flagsText.empty() && !ReadNumber(flagsText, 0xFFFFFFFF, &flags))) {
        return ERROR_INVALID_DATA;
    }
    if (flags & FLG_ADDREG_APPEND) return ERROR_NOT_SUPPORTED;  // no package installed here appends
    RegistryKey key;
    if (!key.Create(root, InfField(line, 2))) return ERROR_ACCESS_DENIED;
    // A line of root and subkey alone creates the key.
    if ((flags & FLG_ADDREG_KEYONLY) || SetupGetFieldCount(line) < 3) return ERROR_SUCCESS;
    std::string name = InfField(line, 3);
    if (flags & FLG_ADDREG_DELVAL) {
        RegDeleteValueA(key.handle, name.c_str());
        return ERROR_SUCCESS;
    }
    bool exists = ValueExists(key.handle, name);
    if (((flags & FLG_ADDREG_NOCLOBBER) && exists) || ((flags & FLG_ADDREG_OVERWRITEONLY) && !exists)) {
        return ERROR_SUCCESS;
    }
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!ValueData(line, flags, &type, &data)) {
        return ERROR_INVALID_DATA;
    }
    return DWORD(RegSetValueExA(key.handle, name.c_str(), 0, type, data.data(), DWORD(data.size())));
}

}  // namespace

DWORD ApplyAddReg(HINF inf, const std::string& installSection, HKEY relativeRoot)
{
    return ForEachDirectiveSection(inf, installSection, "AddReg", [&](const std::string& section) -> DWORD {
        LONG lines = SetupGetLineCountA(inf, section.c_str());
        if (lines < 0) return ERROR_SECTION_NOT_FOUND;
        for (LONG l = 0; l < lines; ++l) {
            INFCONTEXT line;
            if (!SetupGetLineByIndexA(inf, section.c_str(), DWORD(l), &line)) continue;
            if (DWORD error = ApplyLine(&line, relativeRoot)) return error;
        }
        return ERROR_SUCCESS;
    });
}

}  // namespace umsim
