// Lock order: an edge A->B means "B was acquired while A was held". A new
// acquisition that can reach back to a held lock along recorded edges would
// deadlock against the thread that recorded them.
#include "km/lockorder.h"

#include "km/verifier.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace kmsim {
namespace {

struct HeldLock {
    const void* lock;
    LockKind kind;
};

struct Graph {
    std::mutex mutex;
    // Keyed by address so that a freed range can be dropped at once.
    std::map<uintptr_t, std::set<uintptr_t>> successors;
    std::map<uintptr_t, std::set<uintptr_t>> predecessors;
    std::map<uintptr_t, LockKind> kinds;
    std::map<uintptr_t, int> heldByAnyone;
};

Graph& TheGraph()
{
    static Graph* graph = new Graph;  // outlives threads that exit late
    return *graph;
}

thread_local std::vector<HeldLock> t_held;

const char* KindName(LockKind kind) { return kind == LockKind::SpinLock ? "spin lock" : "fast mutex"; }

std::string Describe(uintptr_t lock, LockKind kind)
{
    char text[64];
    snprintf(text, sizeof text, "%s %#llx", KindName(kind), (unsigned long long)lock);
    return text;
}

// Depth-first search along recorded edges; graph is locked by the caller.
bool Reaches(Graph& g, uintptr_t from, uintptr_t to)
{
    std::vector<uintptr_t> pending{from};
    std::set<uintptr_t> visited;
    while (!pending.empty()) {
        uintptr_t node = pending.back();
        pending.pop_back();
        if (node == to) return true;
        if (!visited.insert(node).second) continue;
        auto it = g.successors.find(node);
        if (it == g.successors.end()) continue;
        for (uintptr_t next : it->second) pending.push_back(next);
    }
    return false;
}

void ForgetNode(Graph& g, uintptr_t node)
{
    if (auto it = g.successors.find(node); it != g.successors.end()) {
        for (uintptr_t next : it->second) g.predecessors[next].erase(node);
        g.successors.erase(it);
    }
    if (auto it = g.predecessors.find(node); it != g.predecessors.end()) {
        for (uintptr_t prev : it->second) g.successors[prev].erase(node);
        g.predecessors.erase(it);
    }
    g.kinds.erase(node);
}

}  // namespace

bool LockOrderBeforeAcquire(const void* lock, LockKind kind)
{
    auto target = uintptr_t(lock);
    for (const HeldLock& held : t_held) {
        if (held.lock == lock) {
            ReportViolation("lock", "recursive acquisition of " + Describe(target, kind) +
                                        " by the thread that holds it (deadlock)");
            return false;
        }
    }
    std::vector<std::string> inversions;
    {
        Graph& g = TheGraph();
        std::lock_guard guard(g.mutex);
        for (const HeldLock& held : t_held) {
            if (Reaches(g, target, uintptr_t(held.lock))) {
                inversions.push_back("acquiring " + Describe(target, kind) + " while holding " +
                                     Describe(uintptr_t(held.lock), held.kind) +
                                     " inverts the order seen earlier (" + Describe(target, kind) +
                                     " held, then " + Describe(uintptr_t(held.lock), held.kind) + ")");
            }
        }
    }
    for (const std::string& message : inversions) ReportViolation("lock-order", message);
    return true;
}

void LockOrderAcquired(const void* lock, LockKind kind)
{
    auto target = uintptr_t(lock);
    {
        Graph& g = TheGraph();
        std::lock_guard guard(g.mutex);
        g.kinds[target] = kind;
        ++g.heldByAnyone[target];
        for (const HeldLock& held : t_held) {
            g.successors[uintptr_t(held.lock)].insert(target);
            g.predecessors[target].insert(uintptr_t(held.lock));
        }
    }
    t_held.push_back({lock, kind});
}

bool LockOrderReleased(const void* lock, LockKind kind)
{
    // Releases need not be in reverse order of acquisition.
    auto it = std::find_if(t_held.rbegin(), t_held.rend(), [&](const HeldLock& h) { return h.lock == lock; });
    if (it == t_held.rend()) {
        ReportViolation("lock", "release of " + Describe(uintptr_t(lock), kind) +
                                    " that the releasing thread does not hold");
        return false;
    }
    t_held.erase(std::next(it).base());
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    if (auto held = g.heldByAnyone.find(uintptr_t(lock)); held != g.heldByAnyone.end() && --held->second == 0) {
        g.heldByAnyone.erase(held);
    }
    return true;
}

size_t HeldSpinLockCount()
{
    return size_t(std::count_if(t_held.begin(), t_held.end(),
                                [](const HeldLock& h) { return h.kind == LockKind::SpinLock; }));
}

bool ThreadHoldsLock(const void* lock)
{
    return std::any_of(t_held.begin(), t_held.end(), [&](const HeldLock& h) { return h.lock == lock; });
}

void LockOrderForget(const void* lock) { LockOrderForgetRange(uintptr_t(lock), uintptr_t(lock) + 1); }

void LockOrderForgetRange(uintptr_t begin, uintptr_t end)
{
    std::vector<uintptr_t> stillHeld;
    {
        Graph& g = TheGraph();
        std::lock_guard guard(g.mutex);
        for (auto it = g.heldByAnyone.lower_bound(begin); it != g.heldByAnyone.end() && it->first < end;) {
            stillHeld.push_back(it->first);
            it = g.heldByAnyone.erase(it);
        }
        std::vector<uintptr_t> nodes;
        for (auto it = g.kinds.lower_bound(begin); it != g.kinds.end() && it->first < end; ++it) {
            nodes.push_back(it->first);
        }
        for (uintptr_t node : nodes) ForgetNode(g, node);
    }
    // Held by this thread: the report stands for the release that can no
    // longer happen.
    std::erase_if(t_held, [&](const HeldLock& h) { return uintptr_t(h.lock) >= begin && uintptr_t(h.lock) < end; });
    for (uintptr_t lock : stillHeld) {
        char text[128];
        snprintf(text, sizeof text, "lock %#llx is re-initialised or freed while it is held",
                 (unsigned long long)lock);
        ReportViolation("lock", text);
    }
}

void ResetLockOrder()
{
    Graph& g = TheGraph();
    std::lock_guard guard(g.mutex);
    g.successors.clear();
    g.predecessors.clear();
    for (auto it = g.kinds.begin(); it != g.kinds.end();) {
        it = g.heldByAnyone.count(it->first) ? std::next(it) : g.kinds.erase(it);
    }
}

}  // namespace kmsim
