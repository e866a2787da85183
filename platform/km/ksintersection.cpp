// Default data intersection.
#include "km/ksintersection.h"

#include <ksmedia.h>

#include <algorithm>
#include <cstring>

namespace kmsim::ks {
namespace {

bool GuidMatches(const GUID& rangeGuid, const GUID& guid)
{
    return IsEqualGUID(rangeGuid, GUID_NULL) || IsEqualGUID(rangeGuid, guid);
}

// A GUID both sides accept: the specific one when either is specific.
bool CommonGuid(const GUID& a, const GUID& b, GUID* common)
{
    if (IsEqualGUID(a, GUID_NULL)) {
        *common = b;
        return true;
    }
    if (IsEqualGUID(b, GUID_NULL) || IsEqualGUID(a, b)) {
        *common = a;
        return true;
    }
    return false;
}

bool IsWaveAudioRange(const KSDATARANGE* range, ULONG bytes)
{
    return bytes >= sizeof(KSDATARANGE_AUDIO) && range->FormatSize >= sizeof(KSDATARANGE_AUDIO) &&
           IsEqualGUID(range->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) &&
           IsEqualGUID(range->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
}

}  // namespace

bool FormatMatchesRange(const KSDATAFORMAT* format, ULONG formatBytes, const KSDATARANGE* range)
{
    if (!format || !range || formatBytes < sizeof(KSDATAFORMAT)) return false;
    if (format->FormatSize < sizeof(KSDATAFORMAT) || format->FormatSize > formatBytes) return false;
    if (!GuidMatches(range->MajorFormat, format->MajorFormat) || !GuidMatches(range->SubFormat, format->SubFormat) ||
        !GuidMatches(range->Specifier, format->Specifier)) {
        return false;
    }
    if (!IsWaveAudioRange(range, range->FormatSize)) return true;
    if (!IsEqualGUID(format->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) return false;
    if (format->FormatSize < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX)) return false;
    WAVEFORMATEX wave;
    memcpy(&wave, reinterpret_cast<const uint8_t*>(format) + sizeof(KSDATAFORMAT), sizeof(wave));
    const auto* audio = reinterpret_cast<const KSDATARANGE_AUDIO*>(range);
    return wave.nChannels >= 1 && wave.nChannels <= audio->MaximumChannels &&
           wave.wBitsPerSample >= audio->MinimumBitsPerSample && wave.wBitsPerSample <= audio->MaximumBitsPerSample &&
           wave.nSamplesPerSec >= audio->MinimumSampleFrequency && wave.nSamplesPerSec <= audio->MaximumSampleFrequency;
}

bool IntersectRanges(const KSDATARANGE* callerRange, ULONG callerBytes, const KSDATARANGE* pinRange,
                     std::vector<uint8_t>* format)
{
    if (!callerRange || !pinRange || callerBytes < sizeof(KSDATARANGE)) return false;
    if (callerRange->FormatSize < sizeof(KSDATARANGE) || callerRange->FormatSize > callerBytes) return false;
    KSDATAFORMAT common{};
    if (!CommonGuid(callerRange->MajorFormat, pinRange->MajorFormat, &common.MajorFormat) ||
        !CommonGuid(callerRange->SubFormat, pinRange->SubFormat, &common.SubFormat) ||
        !CommonGuid(callerRange->Specifier, pinRange->Specifier, &common.Specifier)) {
        return false;
    }
    common.Flags = pinRange->Flags;
    common.SampleSize = pinRange->SampleSize;
    if (!IsWaveAudioRange(pinRange, pinRange->FormatSize) ||
        !IsEqualGUID(common.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
        common.FormatSize = sizeof(KSDATAFORMAT);
        format->assign(sizeof(KSDATAFORMAT), 0);
        memcpy(format->data(), &common, sizeof(common));
        return true;
    }

    const auto* pin = reinterpret_cast<const KSDATARANGE_AUDIO*>(pinRange);
    ULONG channels = pin->MaximumChannels;
    ULONG minBits = pin->MinimumBitsPerSample, maxBits = pin->MaximumBitsPerSample;
    ULONG minRate = pin->MinimumSampleFrequency, maxRate = pin->MaximumSampleFrequency;
    if (IsWaveAudioRange(callerRange, callerBytes)) {
        const auto* caller = reinterpret_cast<const KSDATARANGE_AUDIO*>(callerRange);
        channels = std::min(channels, caller->MaximumChannels);
        minBits = std::max(minBits, caller->MinimumBitsPerSample);
        maxBits = std::min(maxBits, caller->MaximumBitsPerSample);
        minRate = std::max(minRate, caller->MinimumSampleFrequency);
        maxRate = std::min(maxRate, caller->MaximumSampleFrequency);
    }
    if (channels == 0 || minBits > maxBits || minRate > maxRate || maxBits == 0 || maxBits > 0xFFFF ||
        channels > 0xFFFF) {
        return false;
    }
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = USHORT(channels);
    wave.nSamplesPerSec = maxRate;
    wave.wBitsPerSample = USHORT(maxBits);
    wave.nBlockAlign = USHORT(channels * ((maxBits + 7) / 8));
    wave.nAvgBytesPerSec = wave.nBlockAlign * maxRate;
    wave.cbSize = 0;
    common.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
    format->assign(common.FormatSize, 0);
    memcpy(format->data(), &common, sizeof(common));
    memcpy(format->data() + sizeof(common), &wave, sizeof(wave));
    return true;
}

}  // namespace kmsim::ks
