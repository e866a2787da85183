// Pool tags and the allocation base of the driver's objects.
#pragma once

#include <ntddk.h>

// Objects: bytes "KCNw" in memory order.
constexpr ULONG kObjectTag = 0x774E434B;
// Buffers of the USB and filter layers: bytes "mrvu" in memory order.
constexpr ULONG kBufferTag = 0x7576726D;

// Tagged allocation, as the driver's objects use it: zero-filled pool memory,
// or null (the kernel build has no exceptions). The kernel has no operator
// new of its own, so the driver defines these (kernelobject.cpp).
void* __cdecl operator new(size_t size, POOL_TYPE pool, ULONG tag) noexcept;
void* __cdecl operator new[](size_t size, POOL_TYPE pool, ULONG tag) noexcept;
void __cdecl operator delete(void* p, POOL_TYPE pool, ULONG tag) noexcept;
void __cdecl operator delete[](void* p, POOL_TYPE pool, ULONG tag) noexcept;

// Driver objects come zero-filled from non-paged pool and return to it; a
// failed allocation yields null (the kernel build has no exceptions).
class KernelObject {
public:
    static void* operator new(size_t size) noexcept { return ::operator new(size, NonPagedPool, kObjectTag); }
    static void operator delete(void* p) noexcept
    {
        if (p) ExFreePoolWithTag(p, kObjectTag);
    }
};

// Non-paged zeroed buffer of the USB and filter layers; null on failure.
inline PVOID AllocateBuffer(SIZE_T bytes, POOL_TYPE pool = NonPagedPool)
{
    PVOID p = ExAllocatePoolWithTag(pool, bytes, kBufferTag);
    if (p) RtlZeroMemory(p, bytes);
    return p;
}

inline void FreeBuffer(PVOID p)
{
    if (p) ExFreePoolWithTag(p, kBufferTag);
}
