// Kernel-streaming declarations for user-mode clients: the published
// request and stream records, control codes and the property sets clients
// address, as the kernel side sees them.
#pragma once

#include <windows.h>

#include <kspublished.h>
