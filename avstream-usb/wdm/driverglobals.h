// State shared by every device the driver serves.
#pragma once

#include <ntddk.h>

// Non-zero shows every device's Kinetra MIDI ports; read once at driver entry
// from the service's Parameters key.
extern ULONG DontHideKinetraPorts;

// Streams whose outstanding transfer count is above zero (interlocked).
extern volatile LONG ActiveStreamCount;
// Streams between choosing their first frame and handing their transfers
// down (interlocked).
extern volatile LONG StartingStreamCount;
// USB frame of the common grid on which every stream starts its transfers;
// a frame number, published by compare-exchange as streams start at once.
extern volatile LONG StreamFrameAnchor;
