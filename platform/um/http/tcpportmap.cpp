#include "um/http/tcpportmap.h"
#include "um/network.h"

#include <map>
#include <mutex>

namespace umsim {
namespace {

struct PortMap {
    std::mutex mutex;
    std::map<uint16_t, uint16_t> ports;  // guarded by mutex
};

PortMap& ThePortMap()
{
    static PortMap* map = new PortMap;
    return *map;
}

}  // namespace

void MapTcpPort(uint16_t windowsPort, uint16_t hostPort)
{
    PortMap& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    map.ports[windowsPort] = hostPort;
}

void ClearTcpPortMap()
{
    PortMap& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    map.ports.clear();
}

uint16_t HostTcpPort(uint16_t windowsPort)
{
    PortMap& map = ThePortMap();
    std::lock_guard lock(map.mutex);
    auto it = map.ports.find(windowsPort);
    return it == map.ports.end() ? windowsPort : it->second;
}

}  // namespace umsim
