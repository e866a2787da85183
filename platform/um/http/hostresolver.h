// Host names to numeric addresses, in the order Windows tries them: the
// hosts file of the virtual Windows root, then "localhost" and numeric
// addresses. The host's own resolver is not asked, so a test never waits
// on a DNS server and no name leaks out of the virtual machine.
#pragma once

#include <optional>
#include <string>

namespace umsim {

constexpr char kHostsFilePath[] = "C:\\Windows\\System32\\drivers\\etc\\hosts";

// The numeric address (IPv4 or IPv6 text) for the name; nullopt when the
// name is not known.
std::optional<std::string> ResolveHostName(const std::string& name);

}  // namespace umsim
