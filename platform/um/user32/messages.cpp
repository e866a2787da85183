// Sending and posting messages, and the thread's message loop.
//
// A sent message runs the window's procedure on the window's own thread
// (sentmessages.cpp): the dialog procedure with the default dialog handling
// behind it, a registered class's procedure, or the control's built-in
// procedure under DesktopLock(). Posted messages wait in one process-wide
// queue, each for the thread that created its window, until that thread's
// modal loop or GetMessage/PeekMessage takes them.
//
// The A functions translate the text-carrying messages between the ANSI
// code page and UTF-16, so every procedure sees wide text.
#include "um/user32/window.h"

#include "um/bridge/kernelbridge.h"
#include "um/textconversion.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

namespace umsim {
namespace {

struct PostedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::thread::id thread;
};

std::deque<PostedMessage>& Queue()  // under DesktopLock()
{
    static auto* queue = new std::deque<PostedMessage>;
    return *queue;
}

// A procedure that posts again for every message it receives would keep a
// modal loop busy for ever; past this many deliveries in one pass it is a
// finding and the rest waits for the next pass.
constexpr int kMaxDeliveriesPerPass = 10000;

LRESULT TextMessage(Window& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETTEXT:
        window.text = WideText(reinterpret_cast<const char16_t*>(lParam));
        return TRUE;
    case WM_GETTEXT: {
        auto* buffer = reinterpret_cast<char16_t*>(lParam);
        if (!buffer || wParam == 0) return 0;
        size_t count = std::min<size_t>(window.text.size(), wParam - 1);
        window.text.copy(buffer, count);
        buffer[count] = 0;
        return LRESULT(count);
    }
    case WM_GETTEXTLENGTH: return LRESULT(window.text.size());
    }
    return 0;
}

}  // namespace

LRESULT DefaultWindowMessage(Window& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(DesktopLock());
    switch (message) {
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: return TextMessage(window, message, wParam, lParam);
    case WM_SETICON: {
        HICON& slot = wParam == ICON_SMALL ? window.smallIcon : window.bigIcon;
        HICON previous = slot;
        slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON: return reinterpret_cast<LRESULT>(wParam == ICON_SMALL ? window.smallIcon : window.bigIcon);
    }
    return 0;
}

namespace {

// What the default dialog procedure does with what the dialog's own
// procedure left alone.
LRESULT DefaultDialogMessage(const std::shared_ptr<Window>& dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: {
        // Closing is Cancel, unless a Cancel button is there and disabled.
        auto cancel = ChildById(*dialog, IDCANCEL);
        {
            std::lock_guard lock(DesktopLock());
            if (cancel && !cancel->enabled) return 0;
        }
        SendMessageW(dialog->self, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(cancel ? cancel->self : nullptr));
        return 0;
    }
    }
    return DefaultWindowMessage(*dialog, message, wParam, lParam);
}

}  // namespace

LRESULT DeliverMessage(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window->windowProc) return window->windowProc(window->self, message, wParam, lParam);
    if (window->windowClass == WindowClass::Dialog) {
        INT_PTR handled = window->dialogProc ? window->dialogProc(window->self, message, wParam, lParam) : FALSE;
        if (!handled) return DefaultDialogMessage(window, message, wParam, lParam);
        // A dialog procedure answers through DWLP_MSGRESULT, except for
        // the initialisation, whose answer is the return value itself.
        if (message == WM_INITDIALOG) return handled;
        std::lock_guard lock(DesktopLock());
        return window->msgResult;
    }
    std::lock_guard lock(DesktopLock());
    if (message == WM_SETTEXT || message == WM_GETTEXT || message == WM_GETTEXTLENGTH) {
        return TextMessage(*window, message, wParam, lParam);
    }
    switch (window->windowClass) {
    case WindowClass::Trackbar: return TrackbarProcedure(*window, message, wParam, lParam);
    case WindowClass::ProgressBar: return ProgressBarProcedure(*window, message, wParam, lParam);
    default: return ControlProcedure(*window, message, wParam, lParam);
    }
}

namespace {

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const char* routine)
{
    auto window = LookupMessageTarget(hwnd, routine);
    return window ? SendToOwner(window, message, wParam, lParam) : 0;
}

// The narrow form of a message whose text the procedures keep wide.
LRESULT SendNarrow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const char* routine)
{
    auto window = LookupMessageTarget(hwnd, routine);
    if (!window) return 0;
    switch (message) {
    case WM_SETTEXT:
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
    case CB_FINDSTRINGEXACT: {
        if (!lParam) break;
        std::u16string wide = FromAnsi(reinterpret_cast<const char*>(lParam));
        return SendToOwner(window, message, wParam, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
        std::u16string wide(size_t(SendToOwner(window, WM_GETTEXTLENGTH, 0, 0)) + 1, u'\0');
        wide.resize(size_t(SendToOwner(window, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data()))));
        std::string narrow = ToAnsi(wide);
        if (message == WM_GETTEXTLENGTH) return LRESULT(narrow.size());
        auto* buffer = reinterpret_cast<char*>(lParam);
        if (!buffer || wParam == 0) return 0;
        size_t count = std::min<size_t>(narrow.size(), wParam - 1);
        narrow.copy(buffer, count);
        buffer[count] = 0;
        return LRESULT(count);
    }
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN: {
        LRESULT length = SendToOwner(window, CB_GETLBTEXTLEN, wParam, 0);
        if (length < 0) return length;
        std::u16string wide(size_t(length) + 1, u'\0');
        SendToOwner(window, CB_GETLBTEXT, wParam, reinterpret_cast<LPARAM>(wide.data()));
        wide.resize(size_t(length));
        std::string narrow = ToAnsi(wide);
        if (message == CB_GETLBTEXTLEN) return LRESULT(narrow.size());
        // The caller sized the buffer from CB_GETLBTEXTLEN, as Windows requires.
        if (!lParam) return CB_ERR;
        memcpy(reinterpret_cast<char*>(lParam), narrow.c_str(), narrow.size() + 1);
        return LRESULT(narrow.size());
    }
    }
    return SendToOwner(window, message, wParam, lParam);
}

bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const char* routine)
{
    auto window = LookupMessageTarget(hwnd, routine);
    if (!window) return false;
    std::lock_guard lock(DesktopLock());
    Queue().push_back({hwnd, message, wParam, lParam, window->thread});
    DesktopCondition().notify_all();
    return true;
}

}  // namespace

std::condition_variable& DesktopCondition()
{
    static auto* condition = new std::condition_variable;
    return *condition;
}

void DropPostedMessages(HWND hwnd)
{
    std::lock_guard lock(DesktopLock());
    auto& queue = Queue();
    queue.erase(std::remove_if(queue.begin(), queue.end(), [&](const PostedMessage& m) { return m.hwnd == hwnd; }),
                queue.end());
}

void PumpPostedMessages()
{
    ServeSentMessages();
    const std::thread::id self = std::this_thread::get_id();
    for (int delivered = 0;; ++delivered) {
        PostedMessage next{};
        {
            std::lock_guard lock(DesktopLock());
            auto& queue = Queue();
            // Thread messages (WM_QUIT) wait for GetMessage.
            auto it = std::find_if(queue.begin(), queue.end(),
                                   [&](const PostedMessage& m) { return m.thread == self && m.hwnd; });
            if (it == queue.end()) return;
            if (delivered == kMaxDeliveriesPerPass) {
                bridge::ReportViolation("desktop", "a window procedure keeps posting messages to itself");
                return;
            }
            next = *it;
            queue.erase(it);
        }
        // A message for a window destroyed since is dropped, as Windows does.
        if (auto window = PeekWindow(next.hwnd)) DeliverMessage(window, next.message, next.wParam, next.lParam);
    }
}

namespace {

// Whether the queued message passes GetMessage's filters: a window (with
// its controls; null: every window and the thread's own messages) and a
// range of messages (0 to 0: all).
bool Passes(const PostedMessage& m, HWND filter, UINT low, UINT high)
{
    if (filter) {
        auto window = PeekWindow(m.hwnd);
        if (!window || (m.hwnd != filter && window->parent != filter)) return false;
    }
    return (low == 0 && high == 0) || (m.message >= low && m.message <= high);
}

// Takes (or, when peeking, copies) the first message for the calling thread
// that passes the filters; under DesktopLock().
bool TakeMessage(LPMSG out, HWND filter, UINT low, UINT high, bool remove)
{
    auto& queue = Queue();
    const std::thread::id self = std::this_thread::get_id();
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->thread != self || !Passes(*it, filter, low, high)) continue;
        *out = MSG{it->hwnd, it->message, it->wParam, it->lParam, 0, {0, 0}};
        if (remove) queue.erase(it);
        return true;
    }
    return false;
}

// The threads that have a message queue, by their Windows thread id: those
// that have waited for or peeked at messages. Under DesktopLock().
std::map<DWORD, std::thread::id>& QueueThreads()
{
    static auto* threads = new std::map<DWORD, std::thread::id>;
    return *threads;
}

void HaveMessageQueue()  // under DesktopLock()
{
    QueueThreads()[GetCurrentThreadId()] = std::this_thread::get_id();
}

bool PostedMessagesWaiting()  // under DesktopLock()
{
    const std::thread::id self = std::this_thread::get_id();
    auto& queue = Queue();
    return std::any_of(queue.begin(), queue.end(), [&](const PostedMessage& m) { return m.thread == self; });
}

BOOL Get(LPMSG msg, HWND filter, UINT low, UINT high, const char* routine)
{
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (filter && !LookupWindow(filter, routine)) return -1;
    // Waits like Windows: until a message is posted to the thread, serving
    // sent ones meanwhile. A modeless dialog's script (run when it is first
    // visible) is the user.
    for (;;) {
        ServeSentMessages();
        while (RunModelessScripts()) {
        }
        std::unique_lock lock(DesktopLock());
        HaveMessageQueue();
        if (SentMessagesWaiting()) continue;
        if (TakeMessage(msg, filter, low, high, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
        DesktopCondition().wait(lock);
    }
}

BOOL Peek(LPMSG msg, HWND filter, UINT low, UINT high, UINT flags, const char* routine)
{
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (filter && !LookupWindow(filter, routine)) return FALSE;
    ServeSentMessages();
    while (RunModelessScripts()) {
    }
    std::lock_guard lock(DesktopLock());
    HaveMessageQueue();
    return TakeMessage(msg, filter, low, high, (flags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

}  // namespace
}  // namespace umsim

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    return umsim::Get(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, "GetMessageW");
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    return umsim::Get(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, "GetMessageA");
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    return umsim::Peek(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, "PeekMessageW");
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    return umsim::Peek(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg, "PeekMessageA");
}

DWORD WINAPI GetQueueStatus(UINT flags)
{
    std::lock_guard lock(umsim::DesktopLock());
    DWORD status = umsim::SentMessagesWaiting() ? QS_SENDMESSAGE : 0;
    if (umsim::PostedMessagesWaiting()) status |= QS_POSTMESSAGE;
    // What is waiting, and (not tracked apart here) what came since the last call.
    status &= flags;
    return status << 16 | status;
}

BOOL WINAPI WaitMessage(void)
{
    for (;;) {
        umsim::ServeSentMessages();
        while (umsim::RunModelessScripts()) {
        }
        std::unique_lock lock(umsim::DesktopLock());
        if (umsim::SentMessagesWaiting()) continue;
        if (umsim::PostedMessagesWaiting()) return TRUE;
        umsim::DesktopCondition().wait(lock);
    }
}

// Keyboard messages are never queued here, so there is nothing to translate.
BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    UNREFERENCED_PARAMETER(lpMsg);
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    // Thread messages have no window to go to.
    if (!lpMsg || !lpMsg->hwnd) return 0;
    return umsim::Send(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam, "DispatchMessageW");
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    if (!lpMsg || !lpMsg->hwnd) return 0;
    return umsim::Send(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam, "DispatchMessageA");
}

// Without keyboard input, a dialog's message is only to be delivered.
BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg)
{
    if (!lpMsg || !lpMsg->hwnd || !umsim::LookupWindow(hDlg, "IsDialogMessageW")) return FALSE;
    auto window = umsim::PeekWindow(lpMsg->hwnd);
    if (!window || (lpMsg->hwnd != hDlg && window->parent != hDlg)) return FALSE;
    DispatchMessageW(lpMsg);
    return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg) { return IsDialogMessageW(hDlg, lpMsg); }

void WINAPI PostQuitMessage(int nExitCode)
{
    std::lock_guard lock(umsim::DesktopLock());
    umsim::Queue().push_back({NULL, WM_QUIT, WPARAM(nExitCode), 0, std::this_thread::get_id()});
    umsim::DesktopCondition().notify_all();
}

// A message for the thread itself, not for one of its windows: its loop
// gets it with a null window.
BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(umsim::DesktopLock());
    auto thread = umsim::QueueThreads().find(idThread);
    if (thread == umsim::QueueThreads().end()) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    umsim::Queue().push_back({NULL, Msg, wParam, lParam, thread->second});
    umsim::DesktopCondition().notify_all();
    return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return PostThreadMessageW(idThread, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return umsim::Send(hWnd, Msg, wParam, lParam, "SendMessageW");
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return umsim::SendNarrow(hWnd, Msg, wParam, lParam, "SendMessageA");
}

LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? umsim::Send(control, Msg, wParam, lParam, "SendDlgItemMessageW") : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? umsim::SendNarrow(control, Msg, wParam, lParam, "SendDlgItemMessageA") : 0;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return umsim::Post(hWnd, Msg, wParam, lParam, "PostMessageW") ? TRUE : FALSE;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    // Posted messages carry no text the emulation would have to translate.
    return umsim::Post(hWnd, Msg, wParam, lParam, "PostMessageA") ? TRUE : FALSE;
}
