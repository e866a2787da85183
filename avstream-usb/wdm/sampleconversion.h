// Conversions between client PCM (16-bit or packed 24-bit, little-endian)
// and the 24-bit samples of the USB wire. Counts are samples (or frames for
// the stereo-into-quad routines); mixes saturate to the 24-bit range.
#pragma once

#include <ntddk.h>

void Widen16To24(PUCHAR dst, const UCHAR* src, ULONG samples);
void Mix16Into24(PUCHAR dst, const UCHAR* src, ULONG samples);
void Mix24Into24(PUCHAR dst, const UCHAR* src, ULONG samples);
void WidenStereo16IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames);
void MixStereo16IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames);
void CopyStereo24IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames);
void MixStereo24IntoQuad24(PUCHAR dst, const UCHAR* src, ULONG frames);
// Client sample = the top 16 bits of the wire sample; no rounding.
void Narrow24To16(PUCHAR dst, const UCHAR* src, ULONG samples);
