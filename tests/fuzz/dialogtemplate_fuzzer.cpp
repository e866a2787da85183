// Feeds arbitrary bytes to the dialog-template reader (both forms); a
// template it accepts is then shown as a modal dialog with a script that
// reads, prints and presses every control, as the control surface would.
// Verifier findings abort; windows must not outlive their dialog.
#include <windows.h>
#include <commctrl.h>

#include "um/desktop.h"
#include "um/umverifier.h"
#include "um/user32/dialogs.h"
#include "um/user32/dialogtemplate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

INT_PTR CALLBACK EndOnCommand(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND) EndDialog(dialog, LOWORD(wParam));
    return message == WM_INITDIALOG;
}

}  // namespace

constexpr int kFuzzedDialog = 1;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InitCommonControls();
    umsim::OnDialog(kFuzzedDialog, [](umsim::Dialog& dialog) {
        if (dialog.Picture().empty()) __builtin_trap();
        for (int id : dialog.ControlIds()) {
            dialog.Text(id);
            dialog.MoveTrackbar(id, id);
            dialog.Pick(id, 0);
            dialog.Press(id);
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    auto parsed = umsim::ParseDialogTemplate(data, size, &error);
    if (!parsed) {
        if (error.empty()) __builtin_trap();  // every refusal says why
        return 0;
    }
    umsim::ViolationCapture findings;
    const size_t handles = umsim::OpenHandleCount();
    if (umsim::ModalDialog(data, size, NULL, NULL, EndOnCommand, 0, kFuzzedDialog) == -1 &&
        GetLastError() == ERROR_INVALID_DATA) {
        __builtin_trap();  // the reader accepted it a moment ago
    }
    if (umsim::OpenHandleCount() != handles) __builtin_trap();
    for (const std::string& finding : findings.Messages()) {
        std::fprintf(stderr, "verifier %s\n", finding.c_str());
        std::abort();
    }
    return 0;
}
