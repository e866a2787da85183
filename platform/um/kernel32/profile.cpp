// GetPrivateProfileStringA: "[section]" headers and "key=value" lines of an
// initialization file, names compared without case, the first section and
// key of a name winning. Values are trimmed and lose one pair of
// surrounding quotes; nothing else is interpreted (INF string keys stay as
// written, ";" is an ordinary character).
#include "um/kernel32/filepaths.h"
#include "um/textconversion.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

namespace umsim {
namespace {

constexpr size_t kMaxProfileBytes = 16u << 20;

struct ProfileEntry {
    std::string key;
    std::string value;
};

struct ProfileSection {
    std::string name;
    std::vector<ProfileEntry> entries;
};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && isspace(uint8_t(text.front()))) text.remove_prefix(1);
    while (!text.empty() && isspace(uint8_t(text.back()))) text.remove_suffix(1);
    return text;
}

std::vector<ProfileSection> ParseProfile(std::string_view text)
{
    std::vector<ProfileSection> sections;
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            sections.push_back({std::string(Trim(line.substr(1, close == line.npos ? line.npos : close - 1))), {}});
            continue;
        }
        if (sections.empty()) continue;
        size_t equals = line.find('=');
        ProfileEntry entry{std::string(Trim(line.substr(0, equals))), {}};
        if (equals != line.npos) {
            std::string_view value = Trim(line.substr(equals + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            entry.value = std::string(value);
        }
        sections.back().entries.push_back(std::move(entry));
    }
    return sections;
}

const ProfileSection* FindSection(const std::vector<ProfileSection>& sections, std::string_view name)
{
    for (const ProfileSection& section : sections) {
        if (EqualsNoCase(section.name, name)) return &section;
    }
    return nullptr;
}

// One value, cut to the buffer: the length copied.
DWORD CopyValue(std::string_view value, LPSTR buffer, DWORD size)
{
    size_t length = std::min<size_t>(value.size(), size - 1);
    memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return DWORD(length);
}

// Names, each NUL-terminated, and a closing NUL. When they do not fit, the
// last one that starts is cut and the list still ends with two NULs; the
// length is then size - 2.
DWORD CopyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size)
{
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    size_t used = 0;
    for (const std::string& name : names) {
        if (used + name.size() + 2 > size) {
            size_t room = size - 2 > used ? size - 2 - used : 0;
            memcpy(buffer + used, name.data(), room);
            buffer[size - 2] = buffer[size - 1] = '\0';
            return size - 2;
        }
        memcpy(buffer + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
    }
    buffer[used] = '\0';
    if (used == 0) buffer[1] = '\0';
    return DWORD(used);
}

}  // namespace
}  // namespace umsim

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName)
{
    if (!lpReturnedString || nSize == 0) return 0;
    // A bare name is a file of the Windows folder.
    std::string fileName = lpFileName ? lpFileName : "win.ini";
    if (fileName.find_first_of("\\/:") == std::string::npos) fileName = std::string(umsim::kWindowsDirectory) + "\\" + fileName;
    std::optional<std::string> text;
    if (auto hostPath = umsim::HostFilePath(fileName.c_str())) text = umsim::ReadTextFile(*hostPath, umsim::kMaxProfileBytes);
    auto sections = umsim::ParseProfile(text ? *text : std::string());
    SetLastError(text ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);

    std::vector<std::string> names;
    if (!lpAppName) {
        for (const auto& section : sections) names.push_back(section.name);
        return umsim::CopyList(names, lpReturnedString, nSize);
    }
    const umsim::ProfileSection* section = umsim::FindSection(sections, lpAppName);
    if (!lpKeyName) {
        if (section) {
            for (const auto& entry : section->entries) names.push_back(entry.key);
        }
        return umsim::CopyList(names, lpReturnedString, nSize);
    }
    if (section) {
        for (const auto& entry : section->entries) {
            if (umsim::EqualsNoCase(entry.key, lpKeyName)) return umsim::CopyValue(entry.value, lpReturnedString, nSize);
        }
    }
    // The default loses its trailing blanks, as Windows trims it.
    std::string_view fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    return umsim::CopyValue(fallback, lpReturnedString, nSize);
}
