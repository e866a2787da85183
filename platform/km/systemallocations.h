// Requests the PnP manager must deliver (a device's removal) cannot be lost
// to an allocation failure, as Windows does not lose them: while a
// SystemAllocations is in scope on a thread, the pool's fault injection
// passes that thread's allocations by (they are still counted).
#pragma once

namespace kmsim {

class SystemAllocations {
public:
    SystemAllocations();
    ~SystemAllocations();
    SystemAllocations(const SystemAllocations&) = delete;
    SystemAllocations& operator=(const SystemAllocations&) = delete;

    static bool Active();  // on the calling thread
};

}  // namespace kmsim
