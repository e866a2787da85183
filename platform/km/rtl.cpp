// Run-time library routines on memory and counted strings.
#include <wdm.h>

SIZE_T RtlCompareMemory(const void* a, const void* b, SIZE_T length)
{
    auto left = static_cast<const UCHAR*>(a);
    auto right = static_cast<const UCHAR*>(b);
    SIZE_T same = 0;
    while (same < length && left[same] == right[same]) ++same;
    return same;
}

void RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString)
{
    // Lengths are 16-bit byte counts; longer strings are cut to the largest
    // even length that leaves room for the terminator.
    constexpr size_t kMaxLength = 0xFFFC;
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    if (!SourceString) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    size_t chars = 0;
    while (SourceString[chars]) ++chars;
    size_t bytes = chars * sizeof(WCHAR);
    if (bytes > kMaxLength) bytes = kMaxLength;
    DestinationString->Length = USHORT(bytes);
    DestinationString->MaximumLength = USHORT(bytes + sizeof(WCHAR));
}
