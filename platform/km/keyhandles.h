// Kernel handles to registry keys, with the access they were opened for.
#pragma once

#include "km/registrystore.h"

namespace kmsim {

HANDLE OpenKeyHandle(RegistryKeyRef key, ACCESS_MASK desiredAccess);

}  // namespace kmsim
