// Window classes a program registers, and windows of those classes (or of
// the system's control classes) made with CreateWindowEx. Class names are
// one namespace per process, whichever module registers them.
//
// The A and W forms differ only in the text they take: every procedure of
// the emulation sees wide text in the text-carrying messages, a procedure
// of a class registered through the A functions included.
#include "um/user32/window.h"

#include "um/textconversion.h"

#include <map>

namespace umsim {
namespace {

struct ClassRecord {
    ATOM atom = 0;
    std::u16string name;  // as registered
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    UINT style = 0;
    std::vector<std::weak_ptr<Window>> windows;  // created of it; the class stays while one lives
};

struct ClassTable {  // under DesktopLock()
    std::map<std::u16string, ClassRecord> byName;  // key: the name folded to lower case
    ATOM nextAtom = 0xC000;                        // where Windows' string atoms begin
};

ClassTable& Classes()
{
    static auto* table = new ClassTable;
    return *table;
}

std::u16string Folded(std::u16string name)
{
    for (char16_t& c : name) {
        if (c < 0x80) c = char16_t(tolower(c));
    }
    return name;
}

// A class argument: a name, or an atom in the low word of the pointer.
struct ClassKey {
    bool isAtom = false;
    ATOM atom = 0;
    std::u16string name;
};

ClassKey KeyOf(const char16_t* wide, const char* narrow)
{
    const void* pointer = wide ? static_cast<const void*>(wide) : narrow;
    ClassKey key;
    if (pointer && IS_INTRESOURCE(pointer)) {
        key.isAtom = true;
        key.atom = ATOM(reinterpret_cast<ULONG_PTR>(pointer));
    } else if (wide) {
        key.name = WideText(wide);
    } else if (narrow) {
        key.name = FromAnsi(narrow);
    }
    return key;
}

ClassRecord* Find(const ClassKey& key)  // under DesktopLock()
{
    auto& table = Classes().byName;
    if (!key.isAtom) {
        auto it = table.find(Folded(key.name));
        return it == table.end() ? nullptr : &it->second;
    }
    for (auto& [name, record] : table) {
        if (record.atom == key.atom) return &record;
    }
    return nullptr;
}

ATOM Register(const char16_t* wideName, const char* narrowName, WNDPROC procedure, HINSTANCE instance, UINT style)
{
    ClassKey key = KeyOf(wideName, narrowName);
    if (!procedure || (!wideName && !narrowName) || key.isAtom || key.name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(DesktopLock());
    if (Find(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ClassTable& table = Classes();
    if (table.nextAtom == 0) {  // every atom handed out
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ClassRecord record{table.nextAtom++, key.name, procedure, instance, style, {}};
    table.byName.emplace(Folded(key.name), std::move(record));
    return ATOM(table.nextAtom - 1);
}

BOOL Unregister(const char16_t* wideName, const char* narrowName)
{
    ClassKey key = KeyOf(wideName, narrowName);
    std::lock_guard lock(DesktopLock());
    ClassRecord* record = Find(key);
    if (!record) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& weak : record->windows) {
        auto window = weak.lock();
        if (window && !window->destroyed) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    Classes().byName.erase(Folded(record->name));
    return TRUE;
}

// Pixels to the dialog units a control's place is kept in.
int16_t UnitsX(int pixels) { return int16_t(pixels * 4 / 6); }
int16_t UnitsY(int pixels) { return int16_t(pixels * 8 / 13); }

struct Creation {
    DWORD exStyle;
    ClassKey classKey;
    std::u16string title;
    DWORD style;
    int x, y, cx, cy;
    HWND parent;
    HMENU menu;
    HINSTANCE instance;
    LPVOID param;
    // What WM_NCCREATE and WM_CREATE show the procedure: the caller's own texts.
    const void* structName;
    const void* structClass;
};

HWND Create(const Creation& c, const char* routine)
{
    auto parent = c.parent ? LookupWindow(c.parent, routine) : nullptr;
    if (c.parent && !parent) return NULL;
    if ((c.style & WS_CHILD) && !c.parent) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return NULL;
    }
    auto window = std::make_shared<Window>();
    {
        std::lock_guard lock(DesktopLock());
        if (ClassRecord* record = Find(c.classKey)) {
            window->windowClass = WindowClass::Custom;
            window->className = record->name;
            window->windowProc = record->procedure;
            std::erase_if(record->windows, [](const std::weak_ptr<Window>& w) { return w.expired(); });
            record->windows.push_back(window);
        }
    }
    if (!window->windowProc &&
        (c.classKey.isAtom || !FindSystemClass(c.classKey.name, &window->windowClass, &window->className))) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return NULL;
    }
    // The system chooses where a window asking for the default goes.
    const bool defaultPlace = c.x == CW_USEDEFAULT, defaultSize = c.cx == CW_USEDEFAULT;
    const int x = defaultPlace ? 0 : c.x, y = defaultPlace ? 0 : c.y;
    const int cx = defaultSize ? 960 : c.cx, cy = defaultSize ? 540 : c.cy;
    window->parent = c.parent;
    window->id = (c.style & WS_CHILD) ? int(reinterpret_cast<INT_PTR>(c.menu)) : 0;
    window->style = c.style;
    window->exStyle = c.exStyle;
    window->text = c.title;
    window->instance = c.instance;
    window->frame = {x, y, x + cx, y + cy};
    window->x = UnitsX(x), window->y = UnitsY(y), window->cx = UnitsX(cx), window->cy = UnitsY(cy);
    HWND hwnd = InsertWindow(window);
    if (parent) {
        std::lock_guard lock(DesktopLock());
        parent->laterChildren.push_back(hwnd);
    }
    if (!window->windowProc) return hwnd;  // a system control needs no creation messages

    CREATESTRUCTW create{c.param, c.instance, c.menu, c.parent, cy, cx, y, x, LONG(c.style),
                         static_cast<LPCWSTR>(c.structName), static_cast<LPCWSTR>(c.structClass), c.exStyle};
    const LPARAM lParam = reinterpret_cast<LPARAM>(&create);
    if (!DeliverMessage(window, WM_NCCREATE, 0, lParam)) {
        DestroyWindowTree(hwnd);
        return NULL;
    }
    if (DeliverMessage(window, WM_CREATE, 0, lParam) == -1) {
        DestroyWindow(hwnd);
        return NULL;
    }
    return hwnd;
}

}  // namespace

void ForgetWindowClasses()
{
    std::lock_guard lock(DesktopLock());
    Classes() = ClassTable();
}

}  // namespace umsim

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* lpwcx)
{
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return umsim::Register(reinterpret_cast<const char16_t*>(lpwcx->lpszClassName), nullptr, lpwcx->lpfnWndProc,
                           lpwcx->hInstance, lpwcx->style);
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx)
{
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return umsim::Register(nullptr, lpwcx->lpszClassName, lpwcx->lpfnWndProc, lpwcx->hInstance, lpwcx->style);
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
{
    if (!lpWndClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return umsim::Register(reinterpret_cast<const char16_t*>(lpWndClass->lpszClassName), nullptr,
                           lpWndClass->lpfnWndProc, lpWndClass->hInstance, lpWndClass->style);
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    if (!lpWndClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return umsim::Register(nullptr, lpWndClass->lpszClassName, lpWndClass->lpfnWndProc, lpWndClass->hInstance,
                           lpWndClass->style);
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance)
{
    UNREFERENCED_PARAMETER(hInstance);  // one namespace of classes per process
    return umsim::Unregister(reinterpret_cast<const char16_t*>(lpClassName), nullptr);
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance)
{
    UNREFERENCED_PARAMETER(hInstance);
    return umsim::Unregister(nullptr, lpClassName);
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    return umsim::Create({dwExStyle, umsim::KeyOf(reinterpret_cast<const char16_t*>(lpClassName), nullptr),
                          umsim::WideText(reinterpret_cast<const char16_t*>(lpWindowName)), dwStyle, X, Y, nWidth,
                          nHeight, hWndParent, hMenu, hInstance, lpParam, lpWindowName, lpClassName},
                         "CreateWindowExW");
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    return umsim::Create({dwExStyle, umsim::KeyOf(nullptr, lpClassName),
                          umsim::FromAnsi(lpWindowName ? lpWindowName : ""), dwStyle, X, Y, nWidth, nHeight,
                          hWndParent, hMenu, hInstance, lpParam, lpWindowName, lpClassName},
                         "CreateWindowExA");
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    auto window = umsim::LookupWindow(hWnd, "DefWindowProc");
    if (!window) return 0;
    switch (Msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hWnd); return 0;
    }
    return umsim::DefaultWindowMessage(*window, Msg, wParam, lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hWnd, Msg, wParam, lParam);
}
