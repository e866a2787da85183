// Non-paged lookaside lists: fixed-size blocks from pool under the list's
// tag, with up to Depth freed blocks kept for reuse.
#include <wdm.h>

#include "km/verifier.h"

#include <sched.h>

namespace {

constexpr USHORT kDefaultDepth = 4;

// The list's own lock is internal: it protects only the cached blocks and
// takes part in no lock order, as on Windows.
void Lock(PNPAGED_LOOKASIDE_LIST list)
{
    ULONG_PTR expected = 0;
    while (!__atomic_compare_exchange_n(&list->Lock, &expected, ULONG_PTR(1), false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
        expected = 0;
        sched_yield();
    }
}

void Unlock(PNPAGED_LOOKASIDE_LIST list) { __atomic_store_n(&list->Lock, ULONG_PTR(0), __ATOMIC_RELEASE); }

PVOID AllocateBlock(PNPAGED_LOOKASIDE_LIST list)
{
    return list->Allocate ? list->Allocate(list->Type, list->Size, list->Tag)
                          : ExAllocatePoolWithTag(list->Type, list->Size, list->Tag);
}

void FreeBlock(PNPAGED_LOOKASIDE_LIST list, PVOID block)
{
    if (list->Free) {
        list->Free(block);
    } else {
        ExFreePoolWithTag(block, list->Tag);
    }
}

}  // namespace

void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG Flags, SIZE_T Size, ULONG Tag, USHORT Depth)
{
    UNREFERENCED_PARAMETER(Flags);
    RtlZeroMemory(Lookaside, sizeof(*Lookaside));
    // A cached block holds the link, so blocks are at least that large.
    if (Size < sizeof(SINGLE_LIST_ENTRY)) Size = sizeof(SINGLE_LIST_ENTRY);
    Lookaside->Size = ULONG(Size);
    Lookaside->Tag = Tag;
    Lookaside->Type = NonPagedPool;
    Lookaside->MaximumDepth = Lookaside->Depth = Depth ? Depth : kDefaultDepth;
    Lookaside->Allocate = Allocate;
    Lookaside->Free = Free;
    InitializeListHead(&Lookaside->ListEntry);
}

void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside)
{
    Lock(Lookaside);
    PSINGLE_LIST_ENTRY cached = Lookaside->ListHead.Next;
    Lookaside->ListHead.Next = NULL;
    Unlock(Lookaside);
    while (cached) {
        PSINGLE_LIST_ENTRY next = cached->Next;
        FreeBlock(Lookaside, cached);
        cached = next;
    }
}

PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "ExAllocateFromNPagedLookasideList at IRQL " +
                                           std::to_string(KeGetCurrentIrql()));
    }
    Lock(Lookaside);
    Lookaside->TotalAllocates++;
    PSINGLE_LIST_ENTRY block = Lookaside->ListHead.Next;
    if (block) {
        Lookaside->ListHead.Next = block->Next;
    } else {
        Lookaside->AllocateMisses++;
    }
    Unlock(Lookaside);
    return block ? block : AllocateBlock(Lookaside);
}

void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry)
{
    if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "ExFreeToNPagedLookasideList at IRQL " + std::to_string(KeGetCurrentIrql()));
    }
    Lock(Lookaside);
    Lookaside->TotalFrees++;
    USHORT cached = 0;
    for (PSINGLE_LIST_ENTRY e = Lookaside->ListHead.Next; e; e = e->Next) ++cached;
    if (cached < Lookaside->Depth) {
        auto block = static_cast<PSINGLE_LIST_ENTRY>(Entry);
        block->Next = Lookaside->ListHead.Next;
        Lookaside->ListHead.Next = block;
        Unlock(Lookaside);
        return;
    }
    Lookaside->FreeMisses++;
    Unlock(Lookaside);
    FreeBlock(Lookaside, Entry);
}
