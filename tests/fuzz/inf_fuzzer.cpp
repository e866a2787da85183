// Arbitrary bytes as an INF file: opened through SetupAPI (ANSI and, when
// the bytes start with a byte-order mark, UTF-16), every section, line and
// field read with a buffer of each size class, and the file read again as
// a profile. A read past a buffer, a wrong RequiredSize or a handle left
// open traps.
#include <windows.h>
#include <setupapi.h>

#include "fuzzinffile.h"
#include "um/kernel32/filepaths.h"
#include "um/setupapi/infparser.h"
#include "um/umverifier.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kCanary = '\x5A';

const std::string& InfPath()
{
    static const std::string path = FuzzInfPath("inf_fuzzer");
    return path;
}

// Reads a field with a buffer of the given size and checks the size rules.
void ReadField(INFCONTEXT& context, DWORD index, DWORD size)
{
    // One buffer for every read: fresh allocations of this size per read
    // cost the sanitizers' allocator more than the reads themselves.
    static std::vector<char> buffer(MAX_INF_STRING_LENGTH + 1);
    memset(buffer.data(), kCanary, size + 1);
    DWORD required = 0;
    BOOL read = SetupGetStringFieldA(&context, index, size ? buffer.data() : NULL, size, &required);
    if (buffer[size] != kCanary) __builtin_trap();
    if (read && size && (required > size || strlen(buffer.data()) + 1 != required)) __builtin_trap();
    if (!read && size && GetLastError() == ERROR_INSUFFICIENT_BUFFER && required <= size) __builtin_trap();
    if (size != MAX_INF_STRING_LENGTH) return;
    INT value;
    SetupGetIntField(&context, index, &value);
    if (index > 0) {
        BOOL listed = SetupGetMultiSzFieldA(&context, index, size ? buffer.data() : NULL, size, &required);
        if (buffer[size] != kCanary || (listed && size && required > size)) __builtin_trap();
    }
}

void WalkInf(const umsim::InfText& parsed)
{
    HINF inf = SetupOpenInfFileA(InfPath().c_str(), NULL, INF_STYLE_WIN4 | INF_STYLE_OLDNT, NULL);
    if (inf == INVALID_HANDLE_VALUE) return;
    // The parser sees the whole input; the API walk stops after a number
    // of lines so that long inputs keep the run fast.
    size_t walked = 0;
    for (const umsim::InfSection& section : parsed.sections) {
        LONG count = SetupGetLineCountA(inf, section.name.c_str());
        if (count != LONG(section.lines.size())) __builtin_trap();
        for (LONG i = 0; i < count && ++walked <= 64; ++i) {
            INFCONTEXT context;
            if (!SetupGetLineByIndexA(inf, section.name.c_str(), DWORD(i), &context)) __builtin_trap();
            DWORD fields = SetupGetFieldCount(&context);
            for (DWORD index = 0; index <= fields + 1; ++index) {
                for (DWORD size : {0u, 8u, DWORD(MAX_INF_STRING_LENGTH)}) ReadField(context, index, size);
            }
            char text[64];
            SetupGetLineTextA(&context, NULL, NULL, NULL, text, sizeof text, NULL);
            if (section.lines[size_t(i)].key) {
                INFCONTEXT found;
                SetupFindFirstLineA(inf, section.name.c_str(), section.lines[size_t(i)].key->c_str(), &found);
                SetupFindNextMatchLineA(&context, section.lines[size_t(i)].key->c_str(), &found);
            }
            SetupFindNextLine(&context, &context);
        }
    }
    SetupCloseInfFile(inf);
}

void ReadAsProfile(const umsim::InfText& parsed)
{
    char small[4];
    char large[1024];
    GetPrivateProfileStringA(NULL, NULL, "", small, sizeof small, InfPath().c_str());
    GetPrivateProfileStringA(NULL, NULL, "", large, sizeof large, InfPath().c_str());
    // A few sections and keys: each lookup reads the file again.
    size_t lookups = 0;
    for (const umsim::InfSection& section : parsed.sections) {
        if (++lookups > 8) break;
        GetPrivateProfileStringA(section.name.c_str(), NULL, "", large, sizeof large, InfPath().c_str());
        for (const umsim::InfLine& line : section.lines) {
            if (!line.key || ++lookups > 8) continue;
            DWORD length = GetPrivateProfileStringA(section.name.c_str(), line.key->c_str(), "d", small, sizeof small,
                                                    InfPath().c_str());
            if (length > sizeof small - 1 || strlen(small) != length) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t handles = umsim::OpenHandleCount();
    if (!WriteFuzzInf(InfPath(), data, size)) return 0;

    // The text as SetupAPI reads it; its parse names the sections to walk
    // (the API has no list of them) and must agree with the open.
    auto text = umsim::ReadTextFile(InfPath(), size + 1);
    if (!text) __builtin_trap();
    umsim::InfSyntaxError error;
    auto parsed = umsim::ParseInf(*text, &error);
    UINT line = 0;
    HINF inf = SetupOpenInfFileA(InfPath().c_str(), NULL, INF_STYLE_NONE, &line);
    if ((inf != INVALID_HANDLE_VALUE) != parsed.has_value()) __builtin_trap();
    if (!parsed && (GetLastError() != error.code || line != error.line || line == 0)) __builtin_trap();
    SetupCloseInfFile(inf);
    if (parsed) {
        WalkInf(*parsed);
        ReadAsProfile(*parsed);
    }
    if (umsim::OpenHandleCount() != handles) __builtin_trap();
    return 0;
}
