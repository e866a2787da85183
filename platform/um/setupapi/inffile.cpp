// Reading INF files: SetupOpenInfFileA and the line and field functions.
// An INFCONTEXT names the open file (Inf and CurrentInf, the HINF) and a
// line by its section's and its own index.
#include "um/setupapi/inffile.h"

#include "um/kernel32/filepaths.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace umsim {
namespace {

// Larger files are refused rather than read whole into memory.
constexpr size_t kMaxInfFileBytes = 16u << 20;

std::shared_ptr<InfFile> LookupInf(HINF inf, const char* routine)
{
    return LookupHandleOf<InfFile>(inf, ObjectKind::InfFile, routine);
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL Succeed()
{
    SetLastError(NO_ERROR);
    return TRUE;
}

std::optional<std::string> VersionValue(const InfText& inf, std::string_view key)
{
    int version = FindInfSection(inf, "Version");
    if (version < 0) return std::nullopt;
    for (const InfLine& line : inf.sections[size_t(version)].lines) {
        if (line.key && EqualsNoCase(*line.key, key) && !line.fields.empty()) {
            return SubstituteInfStrings(inf, line.fields[0], MAX_INF_STRING_LENGTH);
        }
    }
    return std::nullopt;
}

// The open file and the index of the named section; null with the error
// set when either is missing (or the output the caller asks for is null).
std::shared_ptr<InfFile> LookupSection(HINF inf, PCSTR section, const void* output, const char* routine,
                                       size_t* index)
{
    auto file = LookupInf(inf, routine);
    if (!file) return nullptr;
    int found = section ? FindInfSection(file->Text(), section) : -1;
    if (!section || !output) {
        SetLastError(ERROR_INVALID_PARAMETER);
    } else if (found < 0) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
    } else {
        *index = size_t(found);
        return file;
    }
    return nullptr;
}

// The line an INFCONTEXT names, with its file.
struct ContextLine {
    std::shared_ptr<InfFile> file;
    const InfLine* line = nullptr;
};

bool ResolveContext(const INFCONTEXT* context, const char* routine, ContextLine* out)
{
    if (!context) return Fail(ERROR_INVALID_PARAMETER);
    out->file = LookupInf(context->CurrentInf, routine);
    if (!out->file) return false;
    const InfText& text = out->file->Text();
    if (context->Section >= text.sections.size() || context->Line >= text.sections[context->Section].lines.size()) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    out->line = &text.sections[context->Section].lines[context->Line];
    return true;
}

// Field 0 is the key (absent on a line of several values without "="),
// fields 1..n the values, all with strings substituted.
bool FieldText(const ContextLine& at, DWORD index, std::string* text)
{
    const std::string* raw = nullptr;
    if (index == 0) {
        raw = at.line->key ? &*at.line->key : nullptr;
    } else if (index <= at.line->fields.size()) {
        raw = &at.line->fields[index - 1];
    }
    if (!raw) return Fail(ERROR_INVALID_PARAMETER);
    auto value = SubstituteInfStrings(at.file->Text(), *raw, MAX_INF_STRING_LENGTH);
    if (!value) return Fail(ERROR_INVALID_DATA);
    *text = std::move(*value);
    return true;
}

void SetContext(HINF inf, size_t section, size_t line, PINFCONTEXT context)
{
    context->Inf = inf;
    context->CurrentInf = inf;
    context->Section = UINT(section);
    context->Line = UINT(line);
}

bool KeyMatches(const InfText& inf, const InfLine& line, PCSTR key)
{
    if (!key) return true;
    if (!line.key) return false;
    auto value = SubstituteInfStrings(inf, *line.key, MAX_INF_STRING_LENGTH);
    return value && EqualsNoCase(*value, key);
}

// Searches the section from line index `first` for the key.
BOOL FindLine(HINF handle, const InfText& inf, size_t section, size_t first, PCSTR key, PINFCONTEXT context)
{
    const auto& lines = inf.sections[section].lines;
    for (size_t i = first; i < lines.size(); ++i) {
        if (KeyMatches(inf, lines[i], key)) {
            SetContext(handle, section, i, context);
            return Succeed();
        }
    }
    return Fail(ERROR_LINE_NOT_FOUND);
}

bool StyleAccepted(const InfText& inf, DWORD style)
{
    if (style == INF_STYLE_NONE) return true;
    bool win4 = IsWin4Inf(inf);
    return ((style & INF_STYLE_WIN4) && win4) || ((style & INF_STYLE_OLDNT) && !win4);
}

}  // namespace

BOOL CopyInfString(const std::string& value, PSTR buffer, DWORD size, PDWORD required)
{
    if (required) *required = DWORD(value.size());
    if (!buffer) return Succeed();
    if (size < value.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, value.data(), value.size());
    return Succeed();
}

bool IsWin4Inf(const InfText& inf)
{
    auto signature = VersionValue(inf, "Signature");
    if (!signature) return false;
    for (const char* accepted : {"$Windows NT$", "$Chicago$", "$Windows 95$"}) {
        if (EqualsNoCase(*signature, accepted)) return true;
    }
    return false;
}

}  // namespace umsim

using umsim::Fail;
using umsim::Succeed;

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine)
{
    if (ErrorLine) *ErrorLine = 0;
    auto failOpen = [](DWORD error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (!FileName) return failOpen(ERROR_INVALID_PARAMETER);
    // A bare file name is looked for in the system's INF folder.
    std::string name = FileName;
    if (name.find_first_of("\\/:") == std::string::npos) name = std::string(umsim::kInfDirectory) + "\\" + name;
    auto hostPath = umsim::HostFilePath(name.c_str());
    std::error_code ec;
    if (!hostPath || !std::filesystem::is_regular_file(*hostPath, ec)) return failOpen(ERROR_FILE_NOT_FOUND);
    auto text = umsim::ReadTextFile(*hostPath, umsim::kMaxInfFileBytes);
    if (!text) return failOpen(ERROR_NOT_ENOUGH_MEMORY);
    umsim::InfSyntaxError syntax;
    auto inf = umsim::ParseInf(*text, &syntax);
    if (!inf) {
        if (ErrorLine) *ErrorLine = syntax.line;
        return failOpen(syntax.code);
    }
    if (!umsim::StyleAccepted(*inf, InfStyle)) return failOpen(ERROR_WRONG_INF_STYLE);
    if (InfClass) {
        auto infClass = umsim::VersionValue(*inf, "Class");
        if (!infClass || !umsim::EqualsNoCase(*infClass, InfClass)) return failOpen(ERROR_CLASS_MISMATCH);
    }
    HINF handle = umsim::InsertHandle(std::make_shared<umsim::InfFile>(std::move(*inf)));
    SetLastError(NO_ERROR);
    return handle;
}

void WINAPI SetupCloseInfFile(HINF InfHandle)
{
    // Windows ignores a handle that failed to open.
    if (InfHandle == INVALID_HANDLE_VALUE || !InfHandle) return;
    if (umsim::LookupInf(InfHandle, "SetupCloseInfFile")) umsim::RemoveHandle(InfHandle, "SetupCloseInfFile");
}

LONG WINAPI SetupGetLineCountA(HINF InfHandle, PCSTR Section)
{
    size_t section = 0;
    auto file = umsim::LookupSection(InfHandle, Section, Section, "SetupGetLineCountA", &section);
    if (!file) return -1;
    SetLastError(NO_ERROR);
    return LONG(file->Text().sections[section].lines.size());
}

BOOL WINAPI SetupFindFirstLineA(HINF InfHandle, PCSTR Section, PCSTR Key, PINFCONTEXT Context)
{
    size_t section = 0;
    auto file = umsim::LookupSection(InfHandle, Section, Context, "SetupFindFirstLineA", &section);
    if (!file) return FALSE;
    return umsim::FindLine(InfHandle, file->Text(), section, 0, Key, Context);
}

BOOL WINAPI SetupFindNextLine(PINFCONTEXT ContextIn, PINFCONTEXT ContextOut)
{
    return SetupFindNextMatchLineA(ContextIn, NULL, ContextOut);
}

BOOL WINAPI SetupFindNextMatchLineA(PINFCONTEXT ContextIn, PCSTR Key, PINFCONTEXT ContextOut)
{
    umsim::ContextLine at;
    if (!umsim::ResolveContext(ContextIn, "SetupFindNextMatchLineA", &at)) return FALSE;
    if (!ContextOut) return Fail(ERROR_INVALID_PARAMETER);
    INFCONTEXT found = *ContextIn;
    if (!umsim::FindLine(ContextIn->CurrentInf, at.file->Text(), ContextIn->Section, ContextIn->Line + 1, Key, &found)) {
        return FALSE;
    }
    *ContextOut = found;
    return TRUE;
}

BOOL WINAPI SetupGetLineByIndexA(HINF InfHandle, PCSTR Section, DWORD Index, PINFCONTEXT Context)
{
    size_t section = 0;
    auto file = umsim::LookupSection(InfHandle, Section, Context, "SetupGetLineByIndexA", &section);
    if (!file) return FALSE;
    if (Index >= file->Text().sections[section].lines.size()) return Fail(ERROR_LINE_NOT_FOUND);
    umsim::SetContext(InfHandle, section, Index, Context);
    return Succeed();
}

DWORD WINAPI SetupGetFieldCount(PINFCONTEXT Context)
{
    umsim::ContextLine at;
    if (!umsim::ResolveContext(Context, "SetupGetFieldCount", &at)) return 0;
    SetLastError(NO_ERROR);
    return DWORD(at.line->fields.size());
}

BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
                                 PDWORD RequiredSize)
{
    umsim::ContextLine at;
    std::string text;
    if (!umsim::ResolveContext(Context, "SetupGetStringFieldA", &at) || !umsim::FieldText(at, FieldIndex, &text)) {
        return FALSE;
    }
    text.push_back('\0');
    return umsim::CopyInfString(text, ReturnBuffer, ReturnBufferSize, RequiredSize);
}

BOOL WINAPI SetupGetIntField(PINFCONTEXT Context, DWORD FieldIndex, PINT IntegerValue)
{
    umsim::ContextLine at;
    std::string text;
    if (!umsim::ResolveContext(Context, "SetupGetIntField", &at) || !umsim::FieldText(at, FieldIndex, &text)) {
        return FALSE;
    }
    if (!IntegerValue) return Fail(ERROR_INVALID_PARAMETER);
    // "0x" starts a hexadecimal number, anything else is decimal; values
    // wrap to 32 bits as flag masks such as 0xFFFFFFFF are written.
    const char* digits = text.c_str();
    bool negative = *digits == '-';
    if (*digits == '-' || *digits == '+') ++digits;
    int base = (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) ? 16 : 10;
    if (base == 16) digits += 2;
    if (!isxdigit(uint8_t(*digits))) return Fail(ERROR_INVALID_DATA);
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(digits, &end, base);
    if (*end != '\0' || errno == ERANGE || value > 0xFFFFFFFFull) return Fail(ERROR_INVALID_DATA);
    uint32_t bits = uint32_t(value);
    *IntegerValue = INT(negative ? 0u - bits : bits);
    return Succeed();
}

BOOL WINAPI SetupGetMultiSzFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer, DWORD ReturnBufferSize,
                                  LPDWORD RequiredSize)
{
    umsim::ContextLine at;
    if (!umsim::ResolveContext(Context, "SetupGetMultiSzFieldA", &at)) return FALSE;
    if (FieldIndex == 0 || FieldIndex > at.line->fields.size()) return Fail(ERROR_INVALID_PARAMETER);
    std::string list;
    for (DWORD index = FieldIndex; index <= at.line->fields.size(); ++index) {
        std::string text;
        if (!umsim::FieldText(at, index, &text)) return FALSE;
        if (text.empty()) break;  // an empty string would end the list early
        list += text;
        list.push_back('\0');
    }
    list.push_back('\0');
    return umsim::CopyInfString(list, ReturnBuffer, ReturnBufferSize, RequiredSize);
}

BOOL WINAPI SetupGetLineTextA(PINFCONTEXT Context, HINF InfHandle, PCSTR Section, PCSTR Key, PSTR ReturnBuffer,
                              DWORD ReturnBufferSize, PDWORD RequiredSize)
{
    INFCONTEXT found;
    if (!Context) {
        if (!SetupFindFirstLineA(InfHandle, Section, Key, &found)) return FALSE;
        Context = &found;
    }
    umsim::ContextLine at;
    if (!umsim::ResolveContext(Context, "SetupGetLineTextA", &at)) return FALSE;
    std::string text;
    for (DWORD index = 1; index <= at.line->fields.size(); ++index) {
        std::string field;
        if (!umsim::FieldText(at, index, &field)) return FALSE;
        if (index > 1) text.push_back(',');
        text += field;
        if (text.size() > MAX_INF_STRING_LENGTH) return Fail(ERROR_INVALID_DATA);
    }
    text.push_back('\0');
    return umsim::CopyInfString(text, ReturnBuffer, ReturnBufferSize, RequiredSize);
}
