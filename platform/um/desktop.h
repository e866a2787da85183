// The emulated desktop's control surface, for tests and tools that play the
// user of the product's dialogs and message boxes. Product code never sees
// it. Plain C++ only, so it can sit beside <windows.h>.
//
// A script installed for a dialog (by caption or resource id) runs each time
// such a dialog opens modally, right after its WM_INITDIALOG, on the thread
// that shows it; it reads the controls and acts as a user would. When the
// script returns with the dialog still open, or no script matches, the user
// closes the window (WM_CLOSE, which the default dialog handling turns into
// Cancel); a dialog that stays open even then ends with IDCANCEL and is
// recorded as forced. So a modal dialog never waits for anyone.
// A modeless dialog's script runs once, in its thread's message loop
// (GetMessage, PeekMessage), when the dialog is first visible there; the
// dialog stays open for its program to destroy, and is not recorded.
//
// Message boxes never block either: each is recorded, and the message-box
// script (if any) answers it; otherwise, or when the script answers 0, the
// box's default button answers (the first one unless MB_DEFBUTTONn says
// otherwise: IDOK for MB_OK).
//
// Threads: dialogs and message boxes may be shown from any thread. One lock
// guards the desktop (windows, queues, scripts, records, key state); it is
// never held while a script or a dialog procedure runs. Reading works from
// any thread; acting (Press, MoveTrackbar, ...) runs the dialog's procedure,
// so it must happen on the dialog's own thread (inside its script):
// elsewhere it is refused with a verifier finding.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace umsim {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    uint32_t flags = 0;  // MB_* as passed
    int answer = 0;      // IDOK, IDYES, ...
    void* owner = nullptr;  // the HWND passed as owner
};

enum class DialogEnding {
    ByProcedure,     // its procedure called EndDialog (on the script's action or by itself)
    ByDefaultClose,  // the script (or its absence) left it open; WM_CLOSE ended it
    Forced,          // it stayed open through WM_CLOSE; ended with IDCANCEL
};

// A modal dialog, once it ended.
struct DialogRecord {
    std::string caption;
    int resourceId = 0;  // 0 for a template in memory
    intptr_t result = 0;
    bool scripted = false;
    DialogEnding ending = DialogEnding::ByProcedure;
};

// A window on the desktop as a user sees it, by its HWND. Controls are
// named by their control ids.
class Dialog {
public:
    explicit Dialog(void* hwnd) : m_hwnd(hwnd) {}
    void* Handle() const { return m_hwnd; }

    bool IsOpen() const;
    std::string Caption() const;
    int ResourceId() const;
    std::vector<int> ControlIds() const;  // template order
    bool Has(int id) const;
    std::string ClassName(int id) const;  // "Button", "msctls_trackbar32", ...
    std::string Text(int id) const;
    bool IsEnabled(int id) const;
    std::vector<std::string> ComboItems(int id) const;
    int ComboSelection(int id) const;  // -1: none
    int Position(int id) const;        // trackbar or progress bar
    std::pair<int, int> Range(int id) const;
    void* SmallIcon() const;  // the HICON set with WM_SETICON, ICON_SMALL

    // Acting as the user; false (nothing sent) when the control is missing,
    // disabled, of another kind, or the entry does not exist.
    bool Press(int id);                       // BN_CLICKED to the dialog
    bool MoveTrackbar(int id, int position);  // a mouse drag: scroll, custom draw, released capture
    bool Pick(int id, int index);             // CB_SETCURSEL + CBN_SELCHANGE
    bool Pick(int id, const std::string& entry);
    bool Type(int id, const std::string& text);  // an edit control: WM_SETTEXT + EN_CHANGE
    bool Close();                                // WM_CLOSE

    // The window as text: one character per 4 x 8 dialog units inside a
    // frame carrying the caption.
    std::string Picture() const;

private:
    void* m_hwnd;
};

using DialogScript = std::function<void(Dialog&)>;
// Returns the button pressed (IDOK, IDNO, ...), or 0 for the default button.
using MessageBoxScript = std::function<int(const MessageBoxRecord&)>;

// A later script for the same caption or id replaces the earlier one.
void OnDialog(const std::string& caption, DialogScript script);
void OnDialog(int resourceId, DialogScript script);
void OnMessageBox(MessageBoxScript script);

std::vector<MessageBoxRecord> MessageBoxesShown();
std::vector<DialogRecord> DialogsShown();
// Dialogs open right now (modal ones while their script runs, and modeless ones).
std::vector<Dialog> OpenDialogs();

// GetKeyState: the toggle (low bit) and the pressed state (high bit) of a key.
void SetKeyToggled(int virtualKey, bool toggled);
void SetKeyDown(int virtualKey, bool down);

// Forgets scripts, records and key state, and unregisters the common control
// classes and the program's own window classes (a fresh process).
void ResetDesktop();

}  // namespace umsim
