// The registry store: a tree of keys under one lock. Keys are shared
// objects so that open handles survive deletion of their key (and then
// fail) instead of dangling.
#include "km/registrystore.h"

#include "km/utf16.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace kmsim {

struct RegistryKey {
    std::string name;
    std::weak_ptr<RegistryKey> parent;
    std::map<std::string, RegistryKeyRef> subkeys;                            // by folded name
    std::map<std::string, std::pair<std::string, RegistryValue>> values;      // folded -> (name, value)
    bool deleted = false;
};

namespace {

constexpr const char* kFileName = "registry.txt";
constexpr const char* kFileHeader = "MRVREGISTRY 1";

std::mutex g_mutex;

RegistryKeyRef NewRoot()
{
    auto root = std::make_shared<RegistryKey>();
    auto registry = std::make_shared<RegistryKey>();
    registry->name = "Registry";
    registry->parent = root;
    root->subkeys["registry"] = registry;
    for (const char* name : {"Machine", "User"}) {
        auto key = std::make_shared<RegistryKey>();
        key->name = name;
        key->parent = registry;
        std::string folded = name;
        std::transform(folded.begin(), folded.end(), folded.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        registry->subkeys[folded] = key;
    }
    return root;
}

RegistryKeyRef& Root()
{
    static RegistryKeyRef* root = new RegistryKeyRef(NewRoot());
    return *root;
}

std::string Fold(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return folded;
}

std::vector<std::string> Split(const std::string& path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

// Callers hold g_mutex.
RegistryKeyRef Find(const std::string& path)
{
    RegistryKeyRef key = Root();
    for (const std::string& part : Split(path)) {
        auto it = key->subkeys.find(Fold(part));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second;
    }
    return key;
}

RegistryKeyRef Create(const std::string& path, bool createParents, bool* created)
{
    std::vector<std::string> parts = Split(path);
    if (created) *created = false;
    if (parts.empty()) return nullptr;
    RegistryKeyRef key = Root();
    for (size_t i = 0; i < parts.size(); ++i) {
        auto it = key->subkeys.find(Fold(parts[i]));
        if (it != key->subkeys.end()) {
            key = it->second;
            continue;
        }
        if (i + 1 < parts.size() && !createParents) return nullptr;
        auto child = std::make_shared<RegistryKey>();
        child->name = parts[i];
        child->parent = key;
        key->subkeys[Fold(parts[i])] = child;
        key = child;
        if (created) *created = true;
    }
    return key;
}

void MarkDeleted(RegistryKey& key)
{
    key.deleted = true;
    for (auto& [name, child] : key.subkeys) MarkDeleted(*child);
}

std::string PathOf(const RegistryKey& key)
{
    std::string path;
    const RegistryKey* k = &key;
    std::shared_ptr<RegistryKey> hold;
    while (k && !k->name.empty()) {
        path = "\\" + k->name + path;
        hold = k->parent.lock();
        k = hold.get();
    }
    return path;
}

// ---- File format: one line per key ("K path") followed by its values
// ("V :name type hexbytes"); names are percent-escaped. ----

std::string Escape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == '%' || c == 0x7F) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int high = HexDigit(text[i + 1]);
        int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += char(high << 4 | low);
        i += 2;
    }
    return true;
}

void Write(std::ostream& out, const RegistryKey& key, const std::string& path)
{
    if (!path.empty()) {
        out << "K " << Escape(path) << '\n';
        for (const auto& [folded, entry] : key.values) {
            out << "V :" << Escape(entry.first) << ' ' << entry.second.type << ' ';
            static const char* digits = "0123456789abcdef";
            for (uint8_t b : entry.second.data) out << digits[b >> 4] << digits[b & 15];
            out << '\n';
        }
    }
    for (const auto& [folded, child] : key.subkeys) Write(out, *child, path + "\\" + child->name);
}

bool Fail(std::string* error, const std::string& message)
{
    if (error) *error = message;
    return false;
}

}  // namespace

bool CreateKey(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    return Create(path, true, nullptr) != nullptr;
}

bool KeyExists(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    return Find(path) != nullptr;
}

bool DeleteKey(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    RegistryKeyRef key = Find(path);
    RegistryKeyRef parent = key ? key->parent.lock() : nullptr;
    if (!key || !parent) return false;  // the root stays
    parent->subkeys.erase(Fold(key->name));
    MarkDeleted(*key);
    return true;
}

bool SetValue(const std::string& path, const std::string& name, ULONG type, const std::vector<uint8_t>& data)
{
    std::lock_guard lock(g_mutex);
    RegistryKeyRef key = Find(path);
    if (!key) return false;
    key->values[Fold(name)] = {name, RegistryValue{type, data}};
    return true;
}

bool SetDword(const std::string& path, const std::string& name, uint32_t value)
{
    std::vector<uint8_t> data(4);
    for (int i = 0; i < 4; ++i) data[size_t(i)] = uint8_t(value >> (8 * i));
    return SetValue(path, name, REG_DWORD, data);
}

bool SetString(const std::string& path, const std::string& name, const std::string& utf8)
{
    std::u16string text = Utf8ToUtf16(utf8);
    std::vector<uint8_t> data;
    for (char16_t c : text) {
        data.push_back(uint8_t(c));
        data.push_back(uint8_t(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return SetValue(path, name, REG_SZ, data);
}

std::optional<RegistryValue> GetValue(const std::string& path, const std::string& name)
{
    std::lock_guard lock(g_mutex);
    RegistryKeyRef key = Find(path);
    if (!key) return std::nullopt;
    auto it = key->values.find(Fold(name));
    if (it == key->values.end()) return std::nullopt;
    return it->second.second;
}

std::optional<uint32_t> GetDword(const std::string& path, const std::string& name)
{
    std::optional<RegistryValue> value = GetValue(path, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
    return uint32_t(value->data[0]) | uint32_t(value->data[1]) << 8 | uint32_t(value->data[2]) << 16 |
           uint32_t(value->data[3]) << 24;
}

std::optional<std::string> GetString(const std::string& path, const std::string& name)
{
    std::optional<RegistryValue> value = GetValue(path, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    std::u16string text;
    for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
        auto c = char16_t(value->data[i] | value->data[i + 1] << 8);
        if (!c) break;
        text += c;
    }
    return Utf16ToUtf8(text);
}

bool DeleteValue(const std::string& path, const std::string& name)
{
    std::lock_guard lock(g_mutex);
    RegistryKeyRef key = Find(path);
    return key && key->values.erase(Fold(name)) != 0;
}

std::vector<std::string> ListSubkeys(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    std::vector<std::string> names;
    if (RegistryKeyRef key = Find(path)) {
        for (const auto& [folded, child] : key->subkeys) names.push_back(child->name);
    }
    return names;
}

std::vector<std::string> ListValues(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    std::vector<std::string> names;
    if (RegistryKeyRef key = Find(path)) {
        for (const auto& [folded, entry] : key->values) names.push_back(entry.first);
    }
    return names;
}

void Clear()
{
    std::lock_guard lock(g_mutex);
    MarkDeleted(*Root());
    Root() = NewRoot();
}

bool SaveTo(const std::string& directory, std::string* error)
{
    std::ostringstream text;
    text << kFileHeader << '\n';
    {
        std::lock_guard lock(g_mutex);
        Write(text, *Root(), "");
    }
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec) return Fail(error, "cannot create directory " + directory + ": " + ec.message());
    std::filesystem::path file = std::filesystem::path(directory) / kFileName;
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text.str();
        out.flush();
        if (!out) return Fail(error, "cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, file, ec);
    if (ec) return Fail(error, "cannot replace " + file.string() + ": " + ec.message());
    return true;
}

bool LoadFrom(const std::string& directory, std::string* error)
{
    std::filesystem::path file = std::filesystem::path(directory) / kFileName;
    std::error_code ec;
    RegistryKeyRef loaded = NewRoot();
    if (!std::filesystem::exists(file, ec)) {
        std::lock_guard lock(g_mutex);
        MarkDeleted(*Root());
        Root() = loaded;
        return true;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) return Fail(error, "cannot read " + file.string());
    std::string line;
    if (!std::getline(in, line) || line != kFileHeader) {
        return Fail(error, file.string() + ": not a registry file (first line is not \"" + kFileHeader + "\")");
    }
    // Parsed into a tree of its own; the live store changes only at the end.
    RegistryKeyRef current;
    int number = 1;
    auto bad = [&](const std::string& why) { return Fail(error, file.string() + " line " + std::to_string(number) + ": " + why); };
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) continue;
        if (line.size() > 2 && line.compare(0, 2, "K ") == 0) {
            std::string path;
            if (!Unescape(line.substr(2), path)) return bad("malformed key path");
            std::vector<std::string> parts = Split(path);
            if (parts.empty()) return bad("empty key path");
            current = loaded;
            for (const std::string& part : parts) {
                auto& child = current->subkeys[Fold(part)];
                if (!child) {
                    child = std::make_shared<RegistryKey>();
                    child->name = part;
                    child->parent = current;
                }
                current = child;
            }
        } else if (line.size() > 3 && line.compare(0, 3, "V :") == 0) {
            if (!current) return bad("value before any key");
            std::istringstream fields(line.substr(3));
            std::string name, escapedName, type, hex;
            // An empty name leaves the first field empty: "V : 4 0a000000".
            if (line[3] == ' ') {
                fields.str(line.substr(4));
            } else {
                fields >> escapedName;
            }
            if (!(fields >> type)) return bad("missing value type");
            fields >> hex;
            std::string rest;
            if (fields >> rest) return bad("unexpected text after the value data");
            if (!Unescape(escapedName, name)) return bad("malformed value name");
            if (type.empty() || type.size() > 10 || !std::all_of(type.begin(), type.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                return bad("malformed value type");
            }
            unsigned long long typeNumber = std::stoull(type);
            if (typeNumber > 0xFFFFFFFFull) return bad("value type out of range");
            if (hex.size() % 2) return bad("odd number of hex digits");
            RegistryValue value{ULONG(typeNumber), {}};
            for (size_t i = 0; i < hex.size(); i += 2) {
                int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
                if (high < 0 || low < 0) return bad("malformed value data");
                value.data.push_back(uint8_t(high << 4 | low));
            }
            current->values[Fold(name)] = {name, std::move(value)};
        } else {
            return bad("unrecognised line");
        }
    }
    if (in.bad()) return Fail(error, "cannot read " + file.string());
    std::lock_guard lock(g_mutex);
    MarkDeleted(*Root());
    Root() = loaded;
    return true;
}

RegistryKeyRef OpenRegistryKey(const std::string& path)
{
    std::lock_guard lock(g_mutex);
    return Find(path);
}

RegistryKeyRef CreateRegistryKey(const std::string& path, bool createParents, bool* created)
{
    std::lock_guard lock(g_mutex);
    return Create(path, createParents, created);
}

std::string RegistryKeyPath(const RegistryKeyRef& key)
{
    std::lock_guard lock(g_mutex);
    return PathOf(*key);
}

bool RegistryKeyDeleted(const RegistryKeyRef& key)
{
    std::lock_guard lock(g_mutex);
    return key->deleted;
}

std::optional<RegistryValue> GetKeyValue(const RegistryKeyRef& key, const std::string& name)
{
    std::lock_guard lock(g_mutex);
    if (key->deleted) return std::nullopt;
    auto it = key->values.find(Fold(name));
    if (it == key->values.end()) return std::nullopt;
    return it->second.second;
}

bool SetKeyValue(const RegistryKeyRef& key, const std::string& name, RegistryValue value)
{
    std::lock_guard lock(g_mutex);
    if (key->deleted) return false;
    key->values[Fold(name)] = {name, std::move(value)};
    return true;
}

bool DeleteKeyValue(const RegistryKeyRef& key, const std::string& name)
{
    std::lock_guard lock(g_mutex);
    return !key->deleted && key->values.erase(Fold(name)) != 0;
}

std::string JoinRegistryPath(const std::string& base, const std::string& relative)
{
    if (relative.empty()) return base;
    return base + "\\" + relative;
}

}  // namespace kmsim
