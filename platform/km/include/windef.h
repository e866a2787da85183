// Basic Win32 types, as kernel code includes them beside wdm.h: the
// kernel-streaming media records (ksmedia.h) are declared with them.
#pragma once

#include <wdm.h>

typedef uint8_t BYTE, *PBYTE;
typedef uint16_t WORD, *PWORD;
typedef uint32_t DWORD, *PDWORD;
typedef int32_t BOOL, *PBOOL;
typedef float FLOAT, *PFLOAT;
typedef DWORD COLORREF;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *PRECT;
