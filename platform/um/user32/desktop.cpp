// The control surface: scripts, records, key state, and the Dialog view
// through which scripts read and act.
#include "um/desktop.h"

#include "um/bridge/kernelbridge.h"
#include "um/textconversion.h"
#include "um/user32/desktopscripts.h"
#include "um/user32/window.h"

#include <commctrl.h>

#include <map>

namespace umsim {
namespace {

struct Scripts {  // under DesktopLock()
    std::map<int, DialogScript> byResource;
    std::map<std::string, DialogScript> byCaption;
    MessageBoxScript messageBox;
    std::vector<DialogRecord> dialogs;
    std::vector<MessageBoxRecord> messageBoxes;
    std::map<int, SHORT> keys;
};

Scripts& TheScripts()
{
    static auto* scripts = new Scripts;
    return *scripts;
}

HWND Hwnd(void* handle) { return static_cast<HWND>(handle); }

std::shared_ptr<Window> Control(void* dialog, int id)
{
    auto window = PeekWindow(Hwnd(dialog));
    return window ? ChildById(*window, id) : nullptr;
}

// The control a user action goes to: present, enabled, of the kind, and
// on the calling thread (an action runs the dialog's procedure).
std::shared_ptr<Window> Actionable(void* dialog, int id, std::initializer_list<WindowClass> kinds)
{
    auto control = Control(dialog, id);
    if (!control) return nullptr;
    if (control->thread != std::this_thread::get_id()) {
        bridge::ReportViolation("desktop", "a user action on control " + std::to_string(id) +
                                               " from a thread other than its dialog's");
        return nullptr;
    }
    std::lock_guard lock(DesktopLock());
    if (!control->enabled || control->destroyed) return nullptr;
    for (WindowClass kind : kinds) {
        if (control->windowClass == kind) return control;
    }
    return nullptr;
}

template <class T, class F>
T Read(void* dialog, int id, T otherwise, F read)
{
    auto control = Control(dialog, id);
    if (!control) return otherwise;
    std::lock_guard lock(DesktopLock());
    return read(*control);
}

void Notify(const Window& control, WORD code)
{
    SendMessageW(control.parent, WM_COMMAND, MAKEWPARAM(control.id, code), reinterpret_cast<LPARAM>(control.self));
}

}  // namespace

bool RunDialogScript(HWND hwnd)
{
    auto window = PeekWindow(hwnd);
    if (!window) return false;
    DialogScript script;
    {
        std::lock_guard lock(DesktopLock());
        Scripts& s = TheScripts();
        auto byId = s.byResource.find(window->resourceId);
        auto byCaption = s.byCaption.find(ToUtf8(window->text));
        if (window->resourceId && byId != s.byResource.end()) script = byId->second;
        else if (byCaption != s.byCaption.end()) script = byCaption->second;
    }
    if (!script) return false;
    Dialog dialog(hwnd);
    script(dialog);
    return true;
}

bool RunModelessScripts()
{
    const std::thread::id self = std::this_thread::get_id();
    for (HWND hwnd : DialogWindows()) {
        auto window = PeekWindow(hwnd);
        if (!window || window->modal || window->thread != self) continue;
        {
            std::lock_guard lock(DesktopLock());
            if (window->scriptRan || !(window->style & WS_VISIBLE)) continue;
            window->scriptRan = true;
        }
        RunDialogScript(hwnd);
        return true;  // the script may have opened or closed dialogs
    }
    return false;
}

void RecordDialog(DialogRecord record)
{
    std::lock_guard lock(DesktopLock());
    TheScripts().dialogs.push_back(std::move(record));
}

int AskMessageBoxScript(const MessageBoxRecord& box)
{
    MessageBoxScript script;
    {
        std::lock_guard lock(DesktopLock());
        script = TheScripts().messageBox;
    }
    return script ? script(box) : 0;
}

void RecordMessageBox(MessageBoxRecord box)
{
    std::lock_guard lock(DesktopLock());
    TheScripts().messageBoxes.push_back(std::move(box));
}

SHORT KeyState(int virtualKey)
{
    std::lock_guard lock(DesktopLock());
    auto it = TheScripts().keys.find(virtualKey);
    return it == TheScripts().keys.end() ? SHORT(0) : it->second;
}

void OnDialog(const std::string& caption, DialogScript script)
{
    std::lock_guard lock(DesktopLock());
    TheScripts().byCaption[caption] = std::move(script);
}

void OnDialog(int resourceId, DialogScript script)
{
    std::lock_guard lock(DesktopLock());
    TheScripts().byResource[resourceId] = std::move(script);
}

void OnMessageBox(MessageBoxScript script)
{
    std::lock_guard lock(DesktopLock());
    TheScripts().messageBox = std::move(script);
}

std::vector<MessageBoxRecord> MessageBoxesShown()
{
    std::lock_guard lock(DesktopLock());
    return TheScripts().messageBoxes;
}

std::vector<DialogRecord> DialogsShown()
{
    std::lock_guard lock(DesktopLock());
    return TheScripts().dialogs;
}

std::vector<Dialog> OpenDialogs()
{
    std::vector<Dialog> open;
    for (HWND hwnd : DialogWindows()) open.emplace_back(hwnd);
    return open;
}

void SetKeyToggled(int virtualKey, bool toggled)
{
    std::lock_guard lock(DesktopLock());
    SHORT& state = TheScripts().keys[virtualKey];
    state = SHORT(toggled ? state | 1 : state & ~1);
}

void SetKeyDown(int virtualKey, bool down)
{
    std::lock_guard lock(DesktopLock());
    SHORT& state = TheScripts().keys[virtualKey];
    state = SHORT(down ? state | 0x8000 : state & 0x7FFF);
}

void ResetDesktop()
{
    ForgetCommonControlClasses();
    ForgetWindowClasses();
    std::lock_guard lock(DesktopLock());
    TheScripts() = Scripts();
}

// ---- Dialog: reading -------------------------------------------------------

bool Dialog::IsOpen() const { return PeekWindow(Hwnd(m_hwnd)) != nullptr; }

std::string Dialog::Caption() const
{
    auto window = PeekWindow(Hwnd(m_hwnd));
    if (!window) return "";
    std::lock_guard lock(DesktopLock());
    return ToUtf8(window->text);
}

int Dialog::ResourceId() const
{
    auto window = PeekWindow(Hwnd(m_hwnd));
    return window ? window->resourceId : 0;
}

std::vector<int> Dialog::ControlIds() const
{
    std::vector<int> ids;
    if (auto window = PeekWindow(Hwnd(m_hwnd))) {
        for (HWND child : window->children) {
            if (auto control = PeekWindow(child)) ids.push_back(control->id);
        }
    }
    return ids;
}

bool Dialog::Has(int id) const { return Control(m_hwnd, id) != nullptr; }

std::string Dialog::ClassName(int id) const
{
    auto control = Control(m_hwnd, id);
    return control ? ToUtf8(control->className) : "";
}

std::string Dialog::Text(int id) const
{
    return Read(m_hwnd, id, std::string(), [](const Window& w) { return ToUtf8(w.text); });
}

bool Dialog::IsEnabled(int id) const
{
    return Read(m_hwnd, id, false, [](const Window& w) { return w.enabled; });
}

std::vector<std::string> Dialog::ComboItems(int id) const
{
    return Read(m_hwnd, id, std::vector<std::string>(), [](const Window& w) {
        std::vector<std::string> items;
        for (const auto& item : w.combo.items) items.push_back(ToUtf8(item));
        return items;
    });
}

int Dialog::ComboSelection(int id) const
{
    return Read(m_hwnd, id, -1, [](const Window& w) { return w.combo.selection; });
}

int Dialog::Position(int id) const
{
    return Read(m_hwnd, id, 0, [](const Window& w) { return w.range.position; });
}

std::pair<int, int> Dialog::Range(int id) const
{
    return Read(m_hwnd, id, std::pair<int, int>(),
                [](const Window& w) { return std::pair(w.range.low, w.range.high); });
}

void* Dialog::SmallIcon() const
{
    auto window = PeekWindow(Hwnd(m_hwnd));
    if (!window) return nullptr;
    std::lock_guard lock(DesktopLock());
    return window->smallIcon;
}

// ---- Dialog: acting --------------------------------------------------------
// Each action on a modal dialog ends by delivering what it made the
// procedure post, as the dialog's message loop would before the user's next
// move. A modeless dialog's posts wait for its program's own loop, which
// may be waiting for one of them.
static void DeliverPostedAfterAction(void* dialog)
{
    auto window = PeekWindow(Hwnd(dialog));
    if (window && window->modal) PumpPostedMessages();
}

bool Dialog::Press(int id)
{
    auto button = Actionable(m_hwnd, id, {WindowClass::Button});
    if (!button) return false;
    Notify(*button, BN_CLICKED);
    DeliverPostedAfterAction(m_hwnd);
    return true;
}

bool Dialog::MoveTrackbar(int id, int position)
{
    auto trackbar = Actionable(m_hwnd, id, {WindowClass::Trackbar});
    if (!trackbar) return false;
    SendMessageW(trackbar->self, TBM_SETPOS, TRUE, position);
    int reached = int(SendMessageW(trackbar->self, TBM_GETPOS, 0, 0));
    UINT scroll;
    {
        std::lock_guard lock(DesktopLock());
        scroll = trackbar->style & TBS_VERT ? WM_VSCROLL : WM_HSCROLL;
    }
    auto hwnd = reinterpret_cast<LPARAM>(trackbar->self);
    auto dialog = trackbar->parent;
    // The drag as Windows reports it: the thumb tracks, the control
    // repaints, the button is released.
    SendMessageW(dialog, scroll, MAKEWPARAM(TB_THUMBTRACK, reached), hwnd);
    NMCUSTOMDRAW draw{};
    draw.hdr = {trackbar->self, UINT_PTR(id), NM_CUSTOMDRAW};
    draw.dwDrawStage = CDDS_PREPAINT;
    SendMessageW(dialog, WM_NOTIFY, WPARAM(id), reinterpret_cast<LPARAM>(&draw));
    SendMessageW(dialog, scroll, MAKEWPARAM(TB_ENDTRACK, 0), hwnd);
    NMHDR released{trackbar->self, UINT_PTR(id), NM_RELEASEDCAPTURE};
    SendMessageW(dialog, WM_NOTIFY, WPARAM(id), reinterpret_cast<LPARAM>(&released));
    DeliverPostedAfterAction(m_hwnd);
    return true;
}

bool Dialog::Pick(int id, int index)
{
    auto combo = Actionable(m_hwnd, id, {WindowClass::ComboBox});
    if (!combo) return false;
    {
        std::lock_guard lock(DesktopLock());
        if (index < 0 || size_t(index) >= combo->combo.items.size()) return false;
    }
    SendMessageW(combo->self, CB_SETCURSEL, WPARAM(index), 0);
    Notify(*combo, CBN_SELCHANGE);
    DeliverPostedAfterAction(m_hwnd);
    return true;
}

bool Dialog::Pick(int id, const std::string& entry)
{
    std::vector<std::string> items = ComboItems(id);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == entry) return Pick(id, int(i));
    }
    return false;
}

bool Dialog::Type(int id, const std::string& text)
{
    auto edit = Actionable(m_hwnd, id, {WindowClass::Edit});
    if (!edit) return false;
    std::u16string wide = FromUtf8(text);
    SendMessageW(edit->self, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    Notify(*edit, EN_CHANGE);
    DeliverPostedAfterAction(m_hwnd);
    return true;
}

bool Dialog::Close()
{
    auto window = PeekWindow(Hwnd(m_hwnd));
    if (!window) return false;
    if (window->thread != std::this_thread::get_id()) {
        bridge::ReportViolation("desktop", "closing a dialog from a thread other than its own");
        return false;
    }
    SendMessageW(window->self, WM_CLOSE, 0, 0);
    DeliverPostedAfterAction(m_hwnd);
    return true;
}

}  // namespace umsim
