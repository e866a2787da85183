// Windows of the emulated desktop: dialogs and the controls inside them,
// and windows of classes a program registers.
// An HWND is a handle of the process's handle table (checked on every
// call, never reused), naming a Window.
//
// Locking: every mutable field of every Window is guarded by DesktopLock(),
// one lock for the whole desktop. It is never held while product code runs
// (dialog procedures, scripts), so those may call back into user32 freely.
// A window's procedure runs only on the thread that created it: a message
// sent from another thread waits for that thread (sentmessages.cpp).
#pragma once

#include <windows.h>

#include "um/handletable.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace umsim {

// Custom: a class the program registered, with its own window procedure.
enum class WindowClass { Dialog, Static, Button, Edit, ComboBox, Trackbar, ProgressBar, Custom };

struct ComboBoxState {
    std::vector<std::u16string> items;
    std::vector<LPARAM> itemData;  // beside items, same length
    int selection = -1;            // CB_ERR: none
};

// Trackbars and progress bars: a position within a range.
struct RangeState {
    int low = 0;
    int high = 100;
    int position = 0;
    int step = 10;  // progress bar step
};

class Window : public HandleObject {
public:
    Window() : HandleObject(ObjectKind::Window) {}

    // Set at creation, then read-only: no lock needed.
    WindowClass windowClass = WindowClass::Static;
    std::u16string className;
    HWND self = nullptr;
    HWND parent = nullptr;  // owner of a dialog, dialog of a control
    int id = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units, relative to the parent's client area
    DLGPROC dialogProc = nullptr;
    WNDPROC windowProc = nullptr;  // Custom
    HINSTANCE instance = nullptr;
    int resourceId = 0;  // dialog: the template's resource id, 0 for templates in memory
    bool modal = false;  // dialog: shown by DialogBox*, whose loop runs its script
    std::thread::id thread;
    std::vector<HWND> children;  // controls in template order

    // Under DesktopLock().
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::u16string text;
    bool enabled = true;
    bool destroyed = false;
    bool ownerEnded = false;  // the thread that created it has ended
    std::vector<HWND> laterChildren;  // children made by CreateWindowEx, which GetDlgItem does not search
    LONG_PTR userData = 0;   // GWLP_USERDATA
    LONG_PTR msgResult = 0;  // DWLP_MSGRESULT
    LONG_PTR dialogUser = 0; // DWLP_USER
    bool ended = false;      // EndDialog was called
    bool scriptRan = false;  // modeless dialog: its script ran (or none matched)
    RECT frame{};            // dialog or Custom: where it is on the screen, in pixels
    INT_PTR result = 0;
    HICON smallIcon = nullptr, bigIcon = nullptr;
    HANDLE image = nullptr;   // static: its icon or bitmap
    uint16_t imageResource = 0;  // static: the resource its template named
    ComboBoxState combo;
    RangeState range;
};

std::mutex& DesktopLock();

// The window an HWND names; null with a handle finding (and
// ERROR_INVALID_WINDOW_HANDLE) when it names none.
std::shared_ptr<Window> LookupWindow(HWND hwnd, const char* routine);
// The same without a finding, for IsWindow and queued messages whose
// window has gone.
std::shared_ptr<Window> PeekWindow(HWND hwnd);
// The window a message is sent or posted to. Another thread may destroy it
// at any moment, and Windows then fails the call with
// ERROR_INVALID_WINDOW_HANDLE: a window that has gone is that ordinary
// failure, a value that never named a handle is still a finding.
std::shared_ptr<Window> LookupMessageTarget(HWND hwnd, const char* routine);
// The control with the id among the dialog's children, or null.
std::shared_ptr<Window> ChildById(const Window& dialog, int id);

// Puts the window in the handle table, owned by the calling thread; its
// fields must be complete (children excepted, for a dialog being built).
HWND InsertWindow(const std::shared_ptr<Window>& window);
// Whether the window has a place of its own on the screen (frame), rather
// than one inside its dialog.
inline bool HasFrame(const Window& window)
{
    return window.windowClass == WindowClass::Dialog || window.windowClass == WindowClass::Custom;
}
// What DefWindowProc does for every window: its text and its icons.
LRESULT DefaultWindowMessage(Window& window, UINT message, WPARAM wParam, LPARAM lParam);

// The built-in window procedure of the controls; called under DesktopLock().
LRESULT ControlProcedure(Window& control, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT TrackbarProcedure(Window& trackbar, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ProgressBarProcedure(Window& progress, UINT message, WPARAM wParam, LPARAM lParam);
// The system class of the name, Windows' classes and the common controls
// once registered ("Button", "msctls_progress32"; case-blind); its
// canonical name in *canonical. false when there is none.
bool FindSystemClass(const std::u16string& name, WindowClass* kind, std::u16string* canonical);
// Whether comctl32 has registered the class (InitCommonControls[Ex]).
bool CommonControlClassRegistered(WindowClass windowClass);
void ForgetCommonControlClasses();
// Unregisters every class a program registered (a fresh process).
void ForgetWindowClasses();

// Runs the message in the window's procedure on the calling thread (the
// window's own): the dialog procedure with the default dialog handling
// behind it, a registered class's procedure, or a control's built-in one.
LRESULT DeliverMessage(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam);
// SendMessage: delivers at once on the window's own thread; from another
// thread, queues the message for the owner's next message wait (GetMessage,
// PeekMessage, WaitMessage, a modal loop, its own cross-thread send) and
// blocks, serving messages sent to the caller meanwhile, until it has run.
// 0 when the window is destroyed before its turn or its thread has ended.
LRESULT SendToOwner(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the messages other threads sent to the calling thread's windows;
// false when there were none.
bool ServeSentMessages();
// Whether messages sent from other threads wait for the calling thread;
// under DesktopLock().
bool SentMessagesWaiting();
// Makes the calling thread the window's owner for the rest of its life:
// when the thread ends, sends still waiting for it return 0.
void AdoptWindow(const std::shared_ptr<Window>& window);

// Delivers sent, then posted messages queued for windows of the calling thread.
void PumpPostedMessages();
// Wakes threads waiting for messages (GetMessage) after a post or a show.
std::condition_variable& DesktopCondition();
// Runs the scripts of the calling thread's modeless dialogs that have
// become visible since; false when there were none.
bool RunModelessScripts();
// Dialog units to pixels, for the dialog font's base units (MS Shell Dlg,
// 8 points, 96 dots per inch: 6 x 13 pixels).
inline LONG PixelsX(int dialogUnits) { return dialogUnits * 6 / 4; }
inline LONG PixelsY(int dialogUnits) { return dialogUnits * 13 / 8; }
void DropPostedMessages(HWND hwnd);

// Top-level dialogs, for the control surface: added once complete, gone
// when destroyed.
void RegisterDialog(HWND hwnd);
std::vector<HWND> DialogWindows();

// Removes the window, its children and their queued messages; wakes
// senders waiting for it.
void DestroyWindowTree(HWND hwnd);

}  // namespace umsim
