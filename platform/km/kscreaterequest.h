// How a pin-create request travels in a create IRP: the file name is
// KSSTRING_Pin, a backslash, then the bytes of the KSPIN_CONNECT and of its
// KSDATAFORMAT (FormatSize bytes) packed into the name's WCHAR buffer. The
// binary part starts 78 bytes in, so readers copy it out before use. A filter
// is opened with the name "\" + the factory's reference string.
#pragma once

#include <ks.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kmsim::ks {

// format must hold format->FormatSize bytes. An odd total is padded with one
// zero byte.
std::u16string PinCreateFileName(const KSPIN_CONNECT& connect, const KSDATAFORMAT* format);

// Copies the KSPIN_CONNECT and the KSDATAFORMAT out of a pin-create name into
// 8-byte aligned storage; false when the name is not a well-formed request
// (wrong prefix, too short, FormatSize below a KSDATAFORMAT or beyond the name).
bool ParsePinCreateFileName(const UNICODE_STRING& name, std::vector<uint64_t>* connectAndFormat);

}  // namespace kmsim::ks
