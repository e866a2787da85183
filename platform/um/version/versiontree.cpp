// Walks the VS_VERSIONINFO tree.
#include "um/version/versiontree.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace umsim {
namespace {

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
size_t Align4(size_t offset) { return (offset + 3) & ~size_t(3); }

struct Node {
    std::u16string key;
    VersionValue value;
    size_t childrenBegin = 0, end = 0;  // offsets into the block
};

// The node at `offset`, which must end by `limit`.
std::optional<Node> ReadNode(const uint8_t* block, size_t offset, size_t limit)
{
    if (offset + 6 > limit) return std::nullopt;
    size_t length = Word(block + offset);
    size_t valueLength = Word(block + offset + 2);
    uint16_t type = Word(block + offset + 4);
    if (length < 6 || length > limit - offset || type > 1) return std::nullopt;
    Node node;
    node.end = offset + length;
    size_t at = offset + 6;
    for (;;) {
        if (at + 2 > node.end) return std::nullopt;
        char16_t c = Word(block + at);
        at += 2;
        if (!c) break;
        node.key.push_back(c);
    }
    at = Align4(at);
    // A text value's length counts UTF-16 units, a binary one bytes.
    size_t valueBytes = type == 1 ? valueLength * 2 : valueLength;
    if (valueBytes && (at > node.end || valueBytes > node.end - at)) return std::nullopt;
    // An empty value still points inside its node, not at the alignment
    // padding past a node that ends unaligned.
    node.value = VersionValue{block + std::min(at, node.end), valueBytes, type == 1};
    node.childrenBegin = std::min(Align4(at + valueBytes), node.end);
    return node;
}

bool SameKey(const std::u16string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] > 0x7F || tolower(int(a[i])) != tolower(uint8_t(b[i]))) return false;
    }
    return true;
}

}  // namespace

std::optional<VersionValue> FindVersionValue(const uint8_t* block, size_t size, const std::string& path)
{
    auto node = ReadNode(block, 0, size);
    if (!node) return std::nullopt;
    std::vector<std::string> keys;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) keys.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& key : keys) {
        std::optional<Node> found;
        for (size_t child = node->childrenBegin; child < node->end && !found;) {
            auto next = ReadNode(block, child, node->end);
            if (!next) return std::nullopt;
            if (SameKey(next->key, key)) found = next;
            child = Align4(next->end);
        }
        if (!found) return std::nullopt;
        node = found;
    }
    return node->value;
}

}  // namespace umsim
