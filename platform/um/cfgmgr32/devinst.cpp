// Device instance handles.
#include "um/cfgmgr32/devinst.h"

#include <map>
#include <mutex>
#include <vector>

namespace umsim {
namespace {

// Handles are 1-based indexes into ids; both guarded by mutex.
struct Handles {
    std::mutex mutex;
    std::vector<std::string> ids;
    std::map<std::string, DWORD> byKey;  // upper-case id -> handle
};

Handles& TheHandles()
{
    static Handles* handles = new Handles;
    return *handles;
}

}  // namespace

DWORD DevInstOf(const std::string& instanceId)
{
    std::string key = instanceId;
    for (char& c : key) c = char(toupper(uint8_t(c)));
    Handles& handles = TheHandles();
    std::lock_guard lock(handles.mutex);
    auto [it, added] = handles.byKey.emplace(key, DWORD(handles.ids.size() + 1));
    if (added) handles.ids.push_back(instanceId);
    return it->second;
}

std::optional<std::string> InstanceIdOfDevInst(DWORD devInst)
{
    Handles& handles = TheHandles();
    std::lock_guard lock(handles.mutex);
    if (devInst == 0 || devInst > handles.ids.size()) return std::nullopt;
    return handles.ids[devInst - 1];
}

}  // namespace umsim
