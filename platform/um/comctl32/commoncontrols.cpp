// InitCommonControls and InitCommonControlsEx: register the common control
// classes. A dialog naming a trackbar or progress bar before its class is
// registered fails to be created, as on Windows.
#include "um/user32/window.h"

#include <commctrl.h>

namespace umsim {
namespace {
DWORD g_registered = 0;  // ICC_* flags, under DesktopLock()

DWORD FlagOf(WindowClass windowClass)
{
    switch (windowClass) {
    case WindowClass::Trackbar: return ICC_BAR_CLASSES;
    case WindowClass::ProgressBar: return ICC_PROGRESS_CLASS;
    default: return 0;
    }
}
}  // namespace

bool CommonControlClassRegistered(WindowClass windowClass)
{
    std::lock_guard lock(DesktopLock());
    return (g_registered & FlagOf(windowClass)) == FlagOf(windowClass);
}

void ForgetCommonControlClasses()
{
    std::lock_guard lock(DesktopLock());
    g_registered = 0;
}

}  // namespace umsim

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce)
{
    if (!picce || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(umsim::DesktopLock());
    umsim::g_registered |= picce->dwICC;
    return TRUE;
}

void WINAPI InitCommonControls(void)
{
    std::lock_guard lock(umsim::DesktopLock());
    umsim::g_registered |= ICC_WIN95_CLASSES;
}
