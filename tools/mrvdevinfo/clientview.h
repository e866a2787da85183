// Prints the filter as a client sees it, from kernel-streaming requests
// alone: interfaces, friendly name, pins with their names and ranges,
// topology, and the device settings.
#pragma once

#include "km/ksclient.h"

#include <ostream>
#include <string>

void PrintPublishedInterfaces(std::ostream& out, const std::u16string& friendlyName);
void PrintClientView(std::ostream& out, kmsim::KsClientHandle& filter);
