// Showing and placing windows on a screen of fixed size. Dialogs and
// windows of registered classes have a place of their own; a control's
// follows from its dialog's.
#include "um/user32/window.h"

namespace {

// The primary screen.
constexpr int kScreenWidth = 1920, kScreenHeight = 1080;

}  // namespace

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    auto window = umsim::LookupWindow(hWnd, "ShowWindow");
    if (!window) return FALSE;
    std::lock_guard lock(umsim::DesktopLock());
    bool wasVisible = window->style & WS_VISIBLE;
    window->style = nCmdShow == SW_HIDE ? window->style & ~uint32_t(WS_VISIBLE) : window->style | WS_VISIBLE;
    // A modeless dialog's user may now see it (its script runs in the message loop).
    umsim::DesktopCondition().notify_all();
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    auto window = umsim::LookupWindow(hWnd, "IsWindowVisible");
    if (!window) return FALSE;
    std::lock_guard lock(umsim::DesktopLock());
    return (window->style & WS_VISIBLE) ? TRUE : FALSE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect)
{
    auto window = umsim::LookupWindow(hWnd, "GetWindowRect");
    if (!window || !lpRect) return FALSE;
    auto dialog = umsim::HasFrame(*window) ? window : umsim::PeekWindow(window->parent);
    std::lock_guard lock(umsim::DesktopLock());
    *lpRect = dialog ? dialog->frame : RECT{};
    if (window != dialog) {
        LONG left = lpRect->left + umsim::PixelsX(window->x), top = lpRect->top + umsim::PixelsY(window->y);
        *lpRect = {left, top, left + umsim::PixelsX(window->cx), top + umsim::PixelsY(window->cy)};
    }
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags)
{
    UNREFERENCED_PARAMETER(hWndInsertAfter);  // one window over another is not modelled
    auto window = umsim::LookupWindow(hWnd, "SetWindowPos");
    if (!window) return FALSE;
    if (!umsim::HasFrame(*window)) return TRUE;  // controls stay where the template put them
    std::lock_guard lock(umsim::DesktopLock());
    RECT& frame = window->frame;
    if (!(uFlags & SWP_NOSIZE)) frame.right = frame.left + cx, frame.bottom = frame.top + cy;
    if (!(uFlags & SWP_NOMOVE)) {
        LONG width = frame.right - frame.left, height = frame.bottom - frame.top;
        frame = {X, Y, X + width, Y + height};
    }
    if (uFlags & SWP_SHOWWINDOW) window->style |= WS_VISIBLE;
    if (uFlags & SWP_HIDEWINDOW) window->style &= ~uint32_t(WS_VISIBLE);
    umsim::DesktopCondition().notify_all();
    return TRUE;
}

int WINAPI GetSystemMetrics(int nIndex)
{
    switch (nIndex) {
    case SM_CXSCREEN: return kScreenWidth;
    case SM_CYSCREEN: return kScreenHeight;
    }
    return 0;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) { return umsim::LookupWindow(hWnd, "SetForegroundWindow") ? TRUE : FALSE; }
