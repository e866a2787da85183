// The host port a connection to a Windows TCP port goes to.
#pragma once

#include <cstdint>

namespace umsim {

uint16_t HostTcpPort(uint16_t windowsPort);

}  // namespace umsim
