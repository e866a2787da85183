// Window lookup and lifetime, the window's longs, enabling, and the
// dialog-item lookups.
#include "um/user32/window.h"

#include <algorithm>

namespace umsim {

std::mutex& DesktopLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::shared_ptr<Window> LookupWindow(HWND hwnd, const char* routine)
{
    auto window = LookupHandleOf<Window>(reinterpret_cast<HANDLE>(hwnd), ObjectKind::Window, routine);
    if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

std::shared_ptr<Window> PeekWindow(HWND hwnd)
{
    auto object = PeekHandle(reinterpret_cast<HANDLE>(hwnd));
    if (!object || object->Kind() != ObjectKind::Window) return nullptr;
    return std::static_pointer_cast<Window>(object);
}

std::shared_ptr<Window> LookupMessageTarget(HWND hwnd, const char* routine)
{
    if (auto window = PeekWindow(hwnd)) return window;
    if (!WasClosedHandle(reinterpret_cast<HANDLE>(hwnd))) return LookupWindow(hwnd, routine);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

std::shared_ptr<Window> ChildById(const Window& dialog, int id)
{
    for (HWND child : dialog.children) {
        auto control = PeekWindow(child);
        if (control && control->id == id) return control;
    }
    return nullptr;
}

HWND InsertWindow(const std::shared_ptr<Window>& window)
{
    window->thread = std::this_thread::get_id();
    window->enabled = !(window->style & WS_DISABLED);
    HWND hwnd = reinterpret_cast<HWND>(InsertHandle(window));
    window->self = hwnd;
    AdoptWindow(window);
    return hwnd;
}

namespace {
std::vector<HWND>& Dialogs()  // under DesktopLock()
{
    static auto* dialogs = new std::vector<HWND>;
    return *dialogs;
}
}  // namespace

void RegisterDialog(HWND hwnd)
{
    std::lock_guard lock(DesktopLock());
    Dialogs().push_back(hwnd);
}

std::vector<HWND> DialogWindows()
{
    std::lock_guard lock(DesktopLock());
    return Dialogs();
}

void DestroyWindowTree(HWND hwnd)
{
    auto window = PeekWindow(hwnd);
    if (!window) return;
    for (HWND child : window->children) DestroyWindowTree(child);
    std::vector<HWND> laterChildren;
    {
        std::lock_guard lock(DesktopLock());
        laterChildren.swap(window->laterChildren);
    }
    for (HWND child : laterChildren) DestroyWindowTree(child);
    {
        std::lock_guard lock(DesktopLock());
        window->destroyed = true;
        auto& dialogs = Dialogs();
        dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), hwnd), dialogs.end());
    }
    DesktopCondition().notify_all();  // senders waiting for it give up
    DropPostedMessages(hwnd);
    RemoveHandle(reinterpret_cast<HANDLE>(hwnd), "DestroyWindow");
}

}  // namespace umsim

using umsim::LookupWindow;

BOOL WINAPI IsWindow(HWND hWnd) { return umsim::PeekWindow(hWnd) ? TRUE : FALSE; }

HWND WINAPI GetParent(HWND hWnd)
{
    auto window = LookupWindow(hWnd, "GetParent");
    return window ? window->parent : NULL;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    auto window = LookupWindow(hWnd, "DestroyWindow");
    if (!window) return FALSE;
    // Only the thread that created a window may destroy it.
    if (window->thread != std::this_thread::get_id()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (window->dialogProc || window->windowProc) umsim::DeliverMessage(window, WM_DESTROY, 0, 0);
    if (window->windowProc) umsim::DeliverMessage(window, WM_NCDESTROY, 0, 0);
    umsim::DestroyWindowTree(hWnd);
    return TRUE;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    auto window = LookupWindow(hWnd, "EnableWindow");
    if (!window) return FALSE;
    bool wasDisabled;
    {
        std::lock_guard lock(umsim::DesktopLock());
        wasDisabled = !window->enabled;
        window->enabled = bEnable != FALSE;
        window->style = window->enabled ? window->style & ~uint32_t(WS_DISABLED) : window->style | WS_DISABLED;
    }
    if (wasDisabled == (bEnable != FALSE)) SendMessageW(hWnd, WM_ENABLE, WPARAM(bEnable != FALSE), 0);
    return wasDisabled ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    auto window = LookupWindow(hWnd, "IsWindowEnabled");
    if (!window) return FALSE;
    std::lock_guard lock(umsim::DesktopLock());
    return window->enabled ? TRUE : FALSE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    auto dialog = LookupWindow(hDlg, "GetDlgItem");
    if (!dialog) return NULL;
    auto control = umsim::ChildById(*dialog, nIDDlgItem);
    if (!control) {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return NULL;
    }
    return control->self;
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    auto window = LookupWindow(hWnd, "GetDlgCtrlID");
    return window ? window->id : 0;
}

namespace {

// Dialog longs (DWLP_*) are offsets into the dialog's extra bytes; window
// longs (GWL*) are negative indexes.
bool WindowLong(HWND hWnd, int index, const LONG_PTR* newValue, LONG_PTR* oldValue, const char* routine)
{
    auto window = LookupWindow(hWnd, routine);
    if (!window) return false;
    std::lock_guard lock(umsim::DesktopLock());
    LONG_PTR* field = nullptr;
    uint32_t* styleField = nullptr;
    bool isDialog = window->windowClass == umsim::WindowClass::Dialog;
    if (index == GWLP_USERDATA) field = &window->userData;
    if (isDialog && index == int(DWLP_MSGRESULT)) field = &window->msgResult;
    if (isDialog && index == int(DWLP_USER)) field = &window->dialogUser;
    if (index == GWL_STYLE) styleField = &window->style;
    if (index == GWL_EXSTYLE) styleField = &window->exStyle;
    if (field) {
        *oldValue = *field;
        if (newValue) *field = *newValue;
        return true;
    }
    if (styleField) {
        *oldValue = LONG_PTR(int32_t(*styleField));
        if (newValue) *styleField = uint32_t(*newValue);
        if (newValue && index == GWL_STYLE) window->enabled = !(*styleField & WS_DISABLED);
        return true;
    }
    if (index == GWLP_ID && !newValue) {
        *oldValue = window->id;
        return true;
    }
    if (index == GWLP_HWNDPARENT && !newValue) {
        *oldValue = reinterpret_cast<LONG_PTR>(window->parent);
        return true;
    }
    if (index == int(DWLP_DLGPROC) && isDialog && !newValue) {
        *oldValue = reinterpret_cast<LONG_PTR>(window->dialogProc);
        return true;
    }
    // Replacing the procedure, the id or the parent is not offered.
    SetLastError(ERROR_INVALID_INDEX);
    return false;
}

LONG_PTR GetLong(HWND hWnd, int index, const char* routine)
{
    LONG_PTR value = 0;
    if (WindowLong(hWnd, index, nullptr, &value, routine)) SetLastError(ERROR_SUCCESS);
    return value;
}

LONG_PTR SetLong(HWND hWnd, int index, LONG_PTR newValue, const char* routine)
{
    LONG_PTR value = 0;
    // A previous value of 0 is told apart from failure by the last error.
    if (WindowLong(hWnd, index, &newValue, &value, routine)) SetLastError(ERROR_SUCCESS);
    return value;
}

}  // namespace

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) { return LONG(GetLong(hWnd, nIndex, "GetWindowLongA")); }
LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex) { return LONG(GetLong(hWnd, nIndex, "GetWindowLongW")); }
LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    return LONG(SetLong(hWnd, nIndex, dwNewLong, "SetWindowLongA"));
}
LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong)
{
    return LONG(SetLong(hWnd, nIndex, dwNewLong, "SetWindowLongW"));
}
#if UINTPTR_MAX > 0xFFFFFFFFu
LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) { return GetLong(hWnd, nIndex, "GetWindowLongPtrA"); }
LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) { return GetLong(hWnd, nIndex, "GetWindowLongPtrW"); }
LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    return SetLong(hWnd, nIndex, dwNewLong, "SetWindowLongPtrA");
}
LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    return SetLong(hWnd, nIndex, dwNewLong, "SetWindowLongPtrW");
}
#endif
