// The class driver's default data intersection: whether a format falls in a
// pin's data range, and the format two ranges have in common.
#pragma once

#include <ks.h>

#include <cstdint>
#include <vector>

namespace kmsim::ks {

// Major format, sub-format and specifier must match (GUID_NULL in the range
// is a wildcard). Audio ranges with the WAVEFORMATEX specifier also bound the
// format's channels, bits per sample and sample rate. formatBytes is what
// the caller really supplied; the format's FormatSize must fit in it.
bool FormatMatchesRange(const KSDATAFORMAT* format, ULONG formatBytes, const KSDATARANGE* range);

// A format both ranges allow, written to *format (a KSDATAFORMAT, followed by
// a WAVEFORMATEX for audio WAVEFORMATEX ranges, at the highest channels,
// bits and rate both allow). False when they have nothing in common.
// callerBytes is what the caller really supplied for its range.
bool IntersectRanges(const KSDATARANGE* callerRange, ULONG callerBytes, const KSDATARANGE* pinRange,
                     std::vector<uint8_t>* format);

}  // namespace kmsim::ks
