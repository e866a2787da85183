// MessageBoxA/W: recorded and answered without waiting (see desktop.h).
#include "um/bridge/kernelbridge.h"
#include "um/textconversion.h"
#include "um/user32/desktopscripts.h"
#include "um/user32/window.h"

#include <algorithm>
#include <iterator>

namespace umsim {
namespace {

// The buttons of each MB_ type, left to right.
const std::vector<int>* ButtonsOf(UINT type)
{
    static const std::vector<int> kButtons[] = {
        {IDOK},          {IDOK, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO},   {IDRETRY, IDCANCEL}, {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
    };
    UINT kind = type & MB_TYPEMASK;
    return kind < std::size(kButtons) ? &kButtons[kind] : nullptr;
}

int ShowMessageBox(HWND owner, std::string text, std::string caption, UINT type)
{
    if (owner && !LookupWindow(owner, "MessageBox")) return 0;
    // A message box runs a modal loop: messages other threads sent here run now.
    ServeSentMessages();
    const std::vector<int>* buttons = ButtonsOf(type);
    if (!buttons) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    MessageBoxRecord box{std::move(text), std::move(caption), type, 0, owner};
    // Enter presses the default button.
    size_t defaultButton = (type & MB_DEFMASK) >> 8;
    box.answer = (*buttons)[defaultButton < buttons->size() ? defaultButton : 0];
    int answer = AskMessageBoxScript(box);
    if (answer != 0) {
        if (std::find(buttons->begin(), buttons->end(), answer) != buttons->end()) {
            box.answer = answer;
        } else {
            bridge::ReportViolation("desktop", "a script answered the message box \"" + box.text + "\" with " +
                                                   std::to_string(answer) + ", which is not one of its buttons");
        }
    }
    int result = box.answer;
    RecordMessageBox(std::move(box));
    return result;
}

}  // namespace
}  // namespace umsim

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    // Windows' caption when none is given.
    return umsim::ShowMessageBox(hWnd, umsim::ToUtf8(umsim::FromAnsi(lpText ? lpText : "")),
                                 lpCaption ? umsim::ToUtf8(umsim::FromAnsi(lpCaption)) : "Error", uType);
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    return umsim::ShowMessageBox(hWnd, umsim::ToUtf8(umsim::WideText(lpText)),
                                 lpCaption ? umsim::ToUtf8(lpCaption) : "Error", uType);
}
