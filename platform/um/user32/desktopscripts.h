// What user32 asks of the desktop's control surface: the scripts that play
// the user, and the records of what was shown.
#pragma once

#include <windows.h>

#include "um/desktop.h"

namespace umsim {

// Runs the script installed for the dialog (by resource id first, then by
// caption) on the calling thread; false when none matches.
bool RunDialogScript(HWND dialog);
void RecordDialog(DialogRecord record);
// The message-box script's answer (0: none given), without recording.
int AskMessageBoxScript(const MessageBoxRecord& box);
void RecordMessageBox(MessageBoxRecord box);
// GetKeyState's value for a key.
SHORT KeyState(int virtualKey);

}  // namespace umsim
