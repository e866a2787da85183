// Kernel-mode declarations for drivers; everything lives in wdm.h here.
#pragma once
#include <wdm.h>
