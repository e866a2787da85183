// Pool: malloc underneath, so AddressSanitizer sees overruns and uses after
// free, with a side table that accounts every block by tag and checks
// every free.
#include <wdm.h>

#include "km/irptracker.h"
#include "km/lockorder.h"
#include "km/systemallocations.h"
#include "km/verifier.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace kmsim {
namespace {

// Fresh pool is not zeroed on Windows; a recognisable pattern makes code
// that relies on it fail here too.
constexpr int kFreshPoolPattern = 0xA5;
// How many freed addresses are remembered to tell a double free from a
// wild pointer.
constexpr size_t kFreedMemory = 4096;

struct Block {
    size_t size;
    ULONG tag;
    POOL_TYPE type;
};

struct Pool {
    std::mutex mutex;
    std::unordered_map<const void*, Block> blocks;
    std::map<ULONG, PoolUsage> byTag;
    PoolUsage all;
    uint64_t allocationCount = 0;
    uint64_t failNth = 0;  // 0: off
    std::set<ULONG> failingTags;
    uint64_t injectedFailures = 0;
    std::unordered_set<const void*> recentlyFreed;
    std::deque<const void*> freedOrder;
};

Pool& ThePool()
{
    static Pool* pool = new Pool;  // outlives static destructors that free pool
    return *pool;
}

bool IsPaged(POOL_TYPE type) { return (type & 1) != 0; }

const char* TypeName(POOL_TYPE type) { return IsPaged(type) ? "PagedPool" : "NonPagedPool"; }

std::string TagText(ULONG tag)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        auto c = char(tag >> (8 * i) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return text;
}

}  // namespace

PoolUsage PoolOutstanding(ULONG tag)
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    auto it = pool.byTag.find(tag);
    return it == pool.byTag.end() ? PoolUsage{} : it->second;
}

PoolUsage PoolOutstandingAll()
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    return pool.all;
}

uint64_t PoolAllocationCount()
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    return pool.allocationCount;
}

std::string PoolLeakReport()
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    std::string report;
    for (const auto& [address, block] : pool.blocks) {
        char line[160];
        snprintf(line, sizeof line, "  tag '%s' (%#010x) %zu bytes %s at %p\n", TagText(block.tag).c_str(),
                 block.tag, block.size, TypeName(block.type), address);
        report += line;
    }
    return report;
}

void FailNthAllocation(uint64_t n)
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    pool.failNth = n;
}

void FailTag(ULONG tag, bool fail)
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    if (fail) {
        pool.failingTags.insert(tag);
    } else {
        pool.failingTags.erase(tag);
    }
}

void ClearPoolFaults()
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    pool.failNth = 0;
    pool.failingTags.clear();
}

uint64_t InjectedFailures()
{
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    return pool.injectedFailures;
}

namespace {
thread_local int t_systemAllocations = 0;  // nesting depth of SystemAllocations on this thread
}

SystemAllocations::SystemAllocations() { ++t_systemAllocations; }
SystemAllocations::~SystemAllocations() { --t_systemAllocations; }
bool SystemAllocations::Active() { return t_systemAllocations > 0; }

}  // namespace kmsim

using kmsim::ThePool;

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag)
{
    if (kmsim::IsPaged(PoolType) && KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", "paged pool allocated at IRQL " + std::to_string(KeGetCurrentIrql()) +
                                           " (tag '" + kmsim::TagText(Tag) + "')");
    }
    kmsim::Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        ++pool.allocationCount;
        bool fail = false;
        if (!kmsim::SystemAllocations::Active()) {
            fail = pool.failingTags.count(Tag) != 0;
            if (pool.failNth != 0 && --pool.failNth == 0) fail = true;
        }
        if (fail) {
            ++pool.injectedFailures;
            return NULL;
        }
    }
    // A zero-byte request still gets a block of its own, so it has a unique
    // address that can be freed.
    void* p = malloc(NumberOfBytes ? NumberOfBytes : 1);
    if (!p) return NULL;
    memset(p, kmsim::kFreshPoolPattern, NumberOfBytes);
    std::lock_guard lock(pool.mutex);
    pool.blocks[p] = {NumberOfBytes, Tag, PoolType};
    kmsim::PoolUsage& usage = pool.byTag[Tag];
    usage.bytes += NumberOfBytes;
    usage.allocations += 1;
    pool.all.bytes += NumberOfBytes;
    pool.all.allocations += 1;
    pool.recentlyFreed.erase(p);
    return p;
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes)
{
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, kmsim::MakeTag('N', 'o', 'n', 'e'));
}

namespace {

// Removes the block from the books. Returns false (with *why set) when the
// pointer is not a live block; a tag mismatch is reported but the block is
// still freed: the caller meant to free it, and keeping it would add a leak
// to the finding.
bool Unregister(kmsim::Pool& pool, PVOID P, const ULONG* expectedTag, kmsim::Block& block, std::string& why,
                std::string& tagMismatch)
{
    std::lock_guard lock(pool.mutex);
    auto it = pool.blocks.find(P);
    if (it == pool.blocks.end()) {
        why = pool.recentlyFreed.count(P) ? ": block already freed" : ": not the start of a pool block";
        return false;
    }
    block = it->second;
    if (expectedTag && *expectedTag != block.tag) {
        tagMismatch = ": tag '" + kmsim::TagText(*expectedTag) + "' does not match the allocation's tag '" +
                      kmsim::TagText(block.tag) + "'";
    }
    pool.blocks.erase(it);
    kmsim::PoolUsage& usage = pool.byTag[block.tag];
    usage.bytes -= block.size;
    usage.allocations -= 1;
    if (usage.allocations == 0) pool.byTag.erase(block.tag);
    pool.all.bytes -= block.size;
    pool.all.allocations -= 1;
    pool.recentlyFreed.insert(P);
    pool.freedOrder.push_back(P);
    if (pool.freedOrder.size() > kmsim::kFreedMemory) {
        pool.recentlyFreed.erase(pool.freedOrder.front());
        pool.freedOrder.pop_front();
    }
    return true;
}

void FreePool(PVOID P, const ULONG* expectedTag, const char* routine)
{
    char where[64];
    snprintf(where, sizeof where, "%s(%p)", routine, P);
    if (!P) {
        kmsim::ReportViolation("pool", std::string(where) + ": null pointer");
        return;
    }
    kmsim::Block block;
    std::string why, tagMismatch;
    // Findings are reported outside the pool's lock: handlers may look at
    // the pool.
    bool known = Unregister(ThePool(), P, expectedTag, block, why, tagMismatch);
    if (!known) {
        kmsim::ReportViolation("pool", where + why);
        return;
    }
    if (!tagMismatch.empty()) kmsim::ReportViolation("pool", where + tagMismatch);
    if (kmsim::IsPaged(block.type) && KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        kmsim::ReportViolation("irql", std::string(where) + ": paged pool freed at IRQL " +
                                           std::to_string(KeGetCurrentIrql()));
    }
    // Locks and IRPs that lived in the block are gone; a later block at the
    // same address is a new object.
    auto begin = uintptr_t(P);
    auto end = begin + (block.size ? block.size : 1);
    kmsim::LockOrderForgetRange(begin, end);
    kmsim::IrpForgetRange(begin, end);
    free(P);
}

}  // namespace

void ExFreePoolWithTag(PVOID P, ULONG Tag) { FreePool(P, &Tag, "ExFreePoolWithTag"); }

void ExFreePool(PVOID P) { FreePool(P, nullptr, "ExFreePool"); }
