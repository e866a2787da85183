// Workarounds for defects of MinGW-w64's kernel-mode headers, force-included
// into every source of the Windows build that uses those headers, and nowhere
// else.
// Each entry names the defect; drop it when the headers are mended.
#pragma once

// wdm.h defines InterlockedBitTestAndSet/Reset as static inline functions
// after intrin.h has already defined them as non-static inline ones, which
// C++ rejects. Marking intrin.h's copies as present keeps only wdm.h's.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#ifdef __cplusplus
extern "C" {
#endif

// ksmedia.h declares a record with TCHAR, which no kernel header defines;
// kernel code is Unicode.
typedef wchar_t TCHAR;

// The ordered volatile accessors of current wdm.h are missing. BOOLEAN is
// unsigned char and LONG is long there.
static __inline__ long ReadAcquire(const volatile long* source)
{
    return __atomic_load_n(source, __ATOMIC_ACQUIRE);
}

static __inline__ void WriteRelease(volatile long* destination, long value)
{
    __atomic_store_n(destination, value, __ATOMIC_RELEASE);
}

static __inline__ unsigned char ReadBooleanAcquire(const volatile unsigned char* source)
{
    return __atomic_load_n(source, __ATOMIC_ACQUIRE);
}

static __inline__ void WriteBooleanRelease(volatile unsigned char* destination, unsigned char value)
{
    __atomic_store_n(destination, value, __ATOMIC_RELEASE);
}

#ifdef __cplusplus
}

// usbdlib.h declares usbd.sys's exports without C linkage, so C++ callers
// would import decorated names that usbd.sys does not export. A first
// declaration with C linkage fixes the linkage of usbdlib.h's own.
struct _USB_CONFIGURATION_DESCRIPTOR;
struct _USB_INTERFACE_DESCRIPTOR;
struct _USB_COMMON_DESCRIPTOR;
struct _USBD_INTERFACE_LIST_ENTRY;
struct _USBD_VERSION_INFORMATION;
struct _URB;
extern "C" {
__declspec(dllimport) void __stdcall USBD_GetUSBDIVersion(struct _USBD_VERSION_INFORMATION*);
__declspec(dllimport) struct _USB_COMMON_DESCRIPTOR* __stdcall USBD_ParseDescriptors(void*, unsigned long, void*, long);
__declspec(dllimport) struct _USB_INTERFACE_DESCRIPTOR* __stdcall USBD_ParseConfigurationDescriptorEx(
    struct _USB_CONFIGURATION_DESCRIPTOR*, void*, long, long, long, long, long);
__declspec(dllimport) struct _URB* __stdcall USBD_CreateConfigurationRequestEx(struct _USB_CONFIGURATION_DESCRIPTOR*,
                                                                              struct _USBD_INTERFACE_LIST_ENTRY*);
}
#endif
