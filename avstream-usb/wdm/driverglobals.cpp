#include "driverglobals.h"

ULONG DontHideKinetraPorts = 0;
volatile LONG ActiveStreamCount = 0;
volatile LONG StartingStreamCount = 0;
volatile LONG StreamFrameAnchor = 0;
