// The virtual machine's network, for tests and tools: which host port a
// Windows TCP port reaches (tests run unprivileged, so a server the product
// expects on port 80 listens on an ephemeral port), and the hosts file
// that names the update server. Plain C++, so it can sit beside <windows.h>.
#pragma once

#include <cstdint>
#include <string>

namespace umsim {

// Connections to windowsPort (on any address) go to hostPort instead.
void MapTcpPort(uint16_t windowsPort, uint16_t hostPort);
void ClearTcpPortMap();

// Adds "address name" to C:\Windows\System32\drivers\etc\hosts in the open
// virtual Windows root (creating the file), where name resolution looks
// first. False when no root is open or the file cannot be written.
bool AddHostsEntry(const std::string& address, const std::string& name);

}  // namespace umsim
