#include "kernelobject.h"

void* __cdecl operator new(size_t size, POOL_TYPE pool, ULONG tag) noexcept
{
    PVOID p = ExAllocatePoolWithTag(pool, size, tag);
    if (p) RtlZeroMemory(p, size);
    return p;
}

void* __cdecl operator new[](size_t size, POOL_TYPE pool, ULONG tag) noexcept { return operator new(size, pool, tag); }

// The placement forms run only when a constructor fails; the tag is the one
// the memory was allocated with.
void __cdecl operator delete(void* p, POOL_TYPE, ULONG tag) noexcept
{
    if (p) ExFreePoolWithTag(p, tag);
}

void __cdecl operator delete[](void* p, POOL_TYPE, ULONG tag) noexcept
{
    if (p) ExFreePoolWithTag(p, tag);
}
