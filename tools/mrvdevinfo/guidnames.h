// Readable names for the GUIDs a kernel-streaming filter publishes.
#pragma once

#include <wdm.h>

#include <string>

std::string GuidName(const GUID& guid);
std::string GuidString(const GUID& guid);
