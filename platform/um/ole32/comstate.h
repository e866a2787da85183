// What the ole32 files share: the calling thread's apartment and the
// braced text of a GUID.
#pragma once

#include <objbase.h>

#include <optional>
#include <string>

namespace umsim {

bool ComInitializedOnThisThread();
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as Windows writes it.
std::string GuidText(const GUID& guid);
std::optional<GUID> ParseGuidText(const std::u16string& text);
// Called when the last apartment of the process closes.
void FreeComLibrariesAtUninitialize();

}  // namespace umsim
