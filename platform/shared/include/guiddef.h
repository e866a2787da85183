// GUIDs, the same for kernel drivers and user-mode programs.
#pragma once

#include <stdint.h>

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
#endif
typedef GUID* LPGUID;
typedef const GUID* LPCGUID;
typedef const GUID& REFGUID;
typedef GUID IID, CLSID;

inline bool IsEqualGUID(const GUID& a, const GUID& b) { return __builtin_memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(const GUID& a, const GUID& b) { return IsEqualGUID(a, b); }

// Every GUID is defined where it is declared (as with INITGUID); inline
// variables keep one copy per program.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

// The all-zero GUID, which the kernel-streaming wildcards and COM both name.
DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);

// Kernel-streaming headers also publish a GUID's value as the macro
// STATIC_<name>, for tables initialized without running code:
// {STATICGUIDOF(KSCATEGORY_AUDIO)}. DEFINE_GUIDSTRUCT defines the GUID
// from that macro.
#define STATICGUIDOF(guid) STATIC_##guid
#define DEFINE_GUIDSTRUCT(text, name) DEFINE_GUID_OF_VALUES(name, STATIC_##name)
#define DEFINE_GUID_OF_VALUES(name, ...) DEFINE_GUID(name, __VA_ARGS__)
#define DEFINE_GUIDNAMED(name) name
