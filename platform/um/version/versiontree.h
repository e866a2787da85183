// The VS_VERSIONINFO tree of an RT_VERSION resource: nodes of wLength,
// wValueLength, wType, a UTF-16 key, the value and the children, each
// 32-bit aligned. A parser of untrusted bytes: every node must lie inside
// its parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace umsim {

struct VersionValue {
    const uint8_t* data = nullptr;
    size_t size = 0;    // bytes
    bool text = false;  // UTF-16 (size counts its units times two)
};

// The value at a path of keys ("\\" is the root's, the fixed file
// information; "\\StringFileInfo\\040904b0\\FileVersion"), keys compared
// without case. nullopt when the path is missing or the tree is malformed.
std::optional<VersionValue> FindVersionValue(const uint8_t* block, size_t size, const std::string& path);

}  // namespace umsim
