// Dialogs from templates: creation of the dialog and its controls, the
// modal loop, EndDialog.
#include "um/user32/dialogs.h"

#include "um/textconversion.h"
#include "um/user32/desktopscripts.h"
#include "um/user32/dialogtemplate.h"
#include "um/user32/window.h"

#include <commctrl.h>

#include <optional>

namespace umsim {
namespace {

// A template in memory comes without its size; no real one is near this.
constexpr size_t kInMemoryTemplateLimit = 0x10000;

struct ClassName {
    const char16_t* name;
    uint16_t ordinal;  // the template's short form of the system class, or 0
    WindowClass windowClass;
};
constexpr ClassName kClasses[] = {
    {u"Button", 0x0080, WindowClass::Button},
    {u"Edit", 0x0081, WindowClass::Edit},
    {u"Static", 0x0082, WindowClass::Static},
    {u"ComboBox", 0x0085, WindowClass::ComboBox},
    {TRACKBAR_CLASSW, 0, WindowClass::Trackbar},
    {PROGRESS_CLASSW, 0, WindowClass::ProgressBar},
};

bool SameNoCase(const std::u16string& a, const char16_t* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char16_t x = a[i] < 0x80 ? char16_t(tolower(a[i])) : a[i];
        char16_t y = b[i] < 0x80 ? char16_t(tolower(b[i])) : b[i];
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

const ClassName* FindClass(const NameOrOrdinal& name)
{
    for (const ClassName& c : kClasses) {
        if (name.isOrdinal ? c.ordinal && c.ordinal == name.ordinal : SameNoCase(name.name, c.name)) {
            return &c;
        }
    }
    return nullptr;
}

bool Available(const ClassName& c)
{
    return (c.windowClass != WindowClass::Trackbar && c.windowClass != WindowClass::ProgressBar) ||
           CommonControlClassRegistered(c.windowClass);
}

HWND CreateDialogWindow(const DialogTemplate& t, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM param,
                        int resourceId, bool modal)
{
    if (owner && !LookupWindow(owner, "CreateDialog")) return NULL;
    // Every class must exist before anything is created.
    std::vector<const ClassName*> classes;
    for (const DialogItemTemplate& item : t.items) {
        const ClassName* c = FindClass(item.windowClass);
        if (!c || !Available(*c)) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return NULL;
        }
        classes.push_back(c);
    }
    if (!t.windowClass.Empty() || !t.menu.Empty()) {
        // Private dialog classes and menus are not offered.
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return NULL;
    }
    auto dialog = std::make_shared<Window>();
    dialog->windowClass = WindowClass::Dialog;
    dialog->className = u"#32770";
    dialog->parent = owner;
    dialog->x = t.x, dialog->y = t.y, dialog->cx = t.cx, dialog->cy = t.cy;
    dialog->style = t.style;
    dialog->exStyle = t.exStyle;
    dialog->text = t.caption;
    dialog->dialogProc = proc;
    dialog->instance = instance;
    dialog->resourceId = resourceId;
    dialog->modal = modal;
    // Where the template puts it (DS_CENTER and the like are not applied).
    dialog->frame = {PixelsX(t.x), PixelsY(t.y), PixelsX(t.x + t.cx), PixelsY(t.y + t.cy)};
    HWND focus = nullptr;
    std::vector<std::shared_ptr<Window>> controls;
    for (size_t i = 0; i < t.items.size(); ++i) {
        const DialogItemTemplate& item = t.items[i];
        auto control = std::make_shared<Window>();
        control->windowClass = classes[i]->windowClass;
        control->className = classes[i]->name;
        control->id = int(item.id);
        control->x = item.x, control->y = item.y, control->cx = item.cx, control->cy = item.cy;
        control->style = item.style;
        control->exStyle = item.exStyle;
        control->instance = instance;
        if (item.title.isOrdinal) {
            control->imageResource = item.title.ordinal;
            control->image = LoadControlImage(instance, item.title.ordinal, item.style);
        } else {
            control->text = item.title.name;
        }
        controls.push_back(control);
    }
    // The dialog first, so that each control knows its parent before it
    // is reachable; the dialog's child list is complete before anyone
    // learns the dialog's handle.
    HWND hwnd = InsertWindow(dialog);
    for (size_t i = 0; i < controls.size(); ++i) {
        controls[i]->parent = hwnd;
        HWND child = InsertWindow(controls[i]);
        if (!focus && (t.items[i].style & WS_TABSTOP)) focus = child;
        dialog->children.push_back(child);
    }
    RegisterDialog(hwnd);
    SendMessageW(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
    return hwnd;
}

// A procedure may also destroy its dialog instead of ending it.
bool HasEnded(const Window& dialog)
{
    std::lock_guard lock(DesktopLock());
    return dialog.ended || dialog.destroyed;
}

INT_PTR RunModal(const DialogTemplate& t, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM param,
                 int resourceId)
{
    HWND hwnd = CreateDialogWindow(t, instance, owner, proc, param, resourceId, true);
    if (!hwnd) return -1;
    auto dialog = PeekWindow(hwnd);
    // The owner takes no input while its modal dialog is up.
    bool ownerWasEnabled = owner && !EnableWindow(owner, FALSE);

    DialogRecord record;
    record.resourceId = resourceId;
    PumpPostedMessages();
    if (!HasEnded(*dialog)) {
        record.scripted = RunDialogScript(hwnd);
        PumpPostedMessages();
    }
    if (!HasEnded(*dialog)) {
        record.ending = DialogEnding::ByDefaultClose;
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
        PumpPostedMessages();
    }
    {
        std::lock_guard lock(DesktopLock());
        if (!dialog->ended && !dialog->destroyed) {
            record.ending = DialogEnding::Forced;
            dialog->ended = true;
            dialog->result = IDCANCEL;
        }
        record.result = dialog->result;
        record.caption = ToUtf8(dialog->text);  // as shown, should the procedure have changed it
    }
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
    RecordDialog(record);
    return record.result;
}

std::optional<DialogTemplate> Parse(const void* data, size_t size)
{
    auto t = ParseDialogTemplate(data, size);
    if (!t) SetLastError(ERROR_INVALID_DATA);
    return t;
}

std::optional<DialogTemplate> InMemory(const void* memory) { return Parse(memory, memory ? kInMemoryTemplateLimit : 0); }

}  // namespace

bool FindSystemClass(const std::u16string& name, WindowClass* kind, std::u16string* canonical)
{
    NameOrOrdinal byName;
    byName.name = name;
    const ClassName* c = FindClass(byName);
    if (!c || !Available(*c)) return false;
    *kind = c->windowClass;
    *canonical = c->name;
    return true;
}

INT_PTR ModalDialog(const void* data, size_t size, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM param,
                    int resourceId)
{
    auto t = Parse(data, size);
    return t ? RunModal(*t, instance, owner, proc, param, resourceId) : -1;
}

HWND ModelessDialog(const void* data, size_t size, HINSTANCE instance, HWND owner, DLGPROC proc, LPARAM param,
                    int resourceId)
{
    auto t = Parse(data, size);
    return t ? CreateDialogWindow(*t, instance, owner, proc, param, resourceId, false) : NULL;
}

}  // namespace umsim

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    auto t = umsim::InMemory(hDialogTemplate);
    return t ? umsim::RunModal(*t, hInstance, hWndParent, lpDialogFunc, dwInitParam, 0) : -1;
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    // Templates are UTF-16 in both forms.
    return DialogBoxIndirectParamW(hInstance, hDialogTemplate, hWndParent, lpDialogFunc, dwInitParam);
}

HWND WINAPI CreateDialogIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    auto t = umsim::InMemory(lpTemplate);
    return t ? umsim::CreateDialogWindow(*t, hInstance, hWndParent, lpDialogFunc, dwInitParam, 0, false) : NULL;
}

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA lpTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    return CreateDialogIndirectParamW(hInstance, lpTemplate, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    auto dialog = umsim::LookupWindow(hDlg, "EndDialog");
    if (!dialog) return FALSE;
    std::lock_guard lock(umsim::DesktopLock());
    dialog->ended = true;
    dialog->result = nResult;
    return TRUE;
}
