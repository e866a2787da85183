// Pin-create request names.
#include "km/kscreaterequest.h"

#include <cstring>

namespace kmsim::ks {
namespace {

const std::u16string kPrefix = std::u16string(KSSTRING_Pin) + u"\\";

}  // namespace

std::u16string PinCreateFileName(const KSPIN_CONNECT& connect, const KSDATAFORMAT* format)
{
    std::vector<uint8_t> bytes(sizeof(connect) + format->FormatSize);
    memcpy(bytes.data(), &connect, sizeof(connect));
    memcpy(bytes.data() + sizeof(connect), format, format->FormatSize);
    if (bytes.size() % 2) bytes.push_back(0);
    std::u16string name = kPrefix;
    size_t start = name.size();
    name.resize(start + bytes.size() / 2);
    memcpy(name.data() + start, bytes.data(), bytes.size());
    return name;
}

bool ParsePinCreateFileName(const UNICODE_STRING& name, std::vector<uint64_t>* connectAndFormat)
{
    size_t prefixBytes = kPrefix.size() * sizeof(char16_t);
    if (!name.Buffer || name.Length < prefixBytes) return false;
    if (memcmp(name.Buffer, kPrefix.data(), prefixBytes) != 0) return false;
    size_t available = name.Length - prefixBytes;
    if (available < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT)) return false;
    const auto* binary = reinterpret_cast<const uint8_t*>(name.Buffer) + prefixBytes;
    KSDATAFORMAT format;
    memcpy(&format, binary + sizeof(KSPIN_CONNECT), sizeof(format));
    if (format.FormatSize < sizeof(KSDATAFORMAT) || format.FormatSize > available - sizeof(KSPIN_CONNECT)) return false;
    size_t total = sizeof(KSPIN_CONNECT) + format.FormatSize;
    connectAndFormat->assign((total + 7) / 8, 0);
    memcpy(connectAndFormat->data(), binary, total);
    return true;
}

}  // namespace kmsim::ks
