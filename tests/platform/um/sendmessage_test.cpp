// Messages sent across threads: they run on the window's own thread while
// it waits for messages, ahead of posted ones, and the sender gets the
// result; a sender never waits for a window that has gone.
#include <windows.h>
#include <commctrl.h>

#include "um/desktop.h"
#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr UINT kPing = WM_APP + 1, kPong = WM_APP + 2, kDone = WM_APP + 3;

struct Seen {
    std::vector<UINT> messages;  // written on the window's thread only
    std::thread::id thread;
};

HWND g_peer = nullptr;       // the other thread's window, for the ping-pong
HWND g_loopWindow = nullptr;  // ends its thread's loop when destroyed

LRESULT CALLBACK Recorder(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* seen = reinterpret_cast<Seen*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (seen && message >= WM_APP) {
        seen->messages.push_back(message);
        seen->thread = std::this_thread::get_id();
    }
    switch (message) {
    case kPing: return SendMessageW(g_peer, kPong, wParam, 0) + 1;  // a send back to the sender's thread
    case kPong: return LRESULT(wParam) * 2;
    case WM_DESTROY:
        if (hwnd == g_loopWindow) PostQuitMessage(0);
        return 0;
    }
    return message >= WM_APP ? LRESULT(wParam) * 10 : DefWindowProcW(hwnd, message, wParam, lParam);
}

class SendMessageTest : public testing::Test {
protected:
    void SetUp() override
    {
        umsim::ResetDesktop();
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = Recorder;
        wc.lpszClassName = u"Recorder";
        ASSERT_NE(RegisterClassExW(&wc), 0);
    }
    void TearDown() override
    {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        }
        umsim::ResetDesktop();
    }

    static HWND Create(Seen* seen)
    {
        return CreateWindowExW(0, u"Recorder", u"", WS_OVERLAPPED, 0, 0, 100, 100, NULL, NULL, NULL, seen);
    }
    // Waits (without serving it) until another thread's send is queued here.
    static void AwaitSend()
    {
        while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)) std::this_thread::yield();
    }
};

TEST_F(SendMessageTest, RunsOnTheOwnersThreadInsideGetMessageAheadOfPostedMessages)
{
    Seen seen;
    HWND window = Create(&seen);
    ASSERT_NE(window, nullptr);
    LRESULT result = 0;
    std::thread worker([&] {
        PostMessageW(window, kDone, 0, 0);
        result = SendMessageW(window, kPing + 10, 4, 0);
    });
    AwaitSend();
    MSG msg{};
    EXPECT_EQ(GetMessageW(&msg, NULL, 0, 0), TRUE);
    worker.join();
    EXPECT_EQ(msg.message, kDone) << "a sent message is served, never returned";
    EXPECT_EQ(result, 40);
    ASSERT_EQ(seen.messages.size(), 1u) << "posted messages wait for dispatch";
    EXPECT_EQ(seen.messages[0], kPing + 10);
    EXPECT_EQ(seen.thread, std::this_thread::get_id());
    EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(SendMessageTest, TwoThreadsSendingToEachOtherServeEachOther)
{
    Seen mine, theirs;
    HWND window = Create(&mine);
    HWND peer = nullptr;
    std::atomic<bool> ready{false};
    std::thread owner([&] {
        peer = g_loopWindow = Create(&theirs);
        ready = true;
        MSG msg;
        while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
    });
    while (!ready) std::this_thread::yield();
    g_peer = window;
    // Ping runs on the other thread and sends Pong back here, where this
    // thread serves it while it waits for its own send.
    EXPECT_EQ(SendMessageW(peer, kPing, 3, 0), 7);
    EXPECT_EQ(mine.messages, std::vector<UINT>{kPong});
    EXPECT_EQ(theirs.thread, owner.get_id());
    // Closing it through DefWindowProc ends its thread's loop.
    EXPECT_TRUE(PostMessageW(peer, WM_CLOSE, 0, 0));
    owner.join();
    EXPECT_FALSE(IsWindow(peer));
    EXPECT_TRUE(DestroyWindow(window));
}

// A worker may message a window its owner has just destroyed: Windows fails
// the call, and so does this, without a finding; a value that never was a
// handle still is one.
TEST_F(SendMessageTest, MessagesToAWindowThatHasGoneFailAsOnWindows)
{
    Seen seen;
    HWND window = Create(&seen);
    ASSERT_TRUE(DestroyWindow(window));
    umsim::ViolationCapture findings;
    SetLastError(0);
    EXPECT_EQ(SendMessageW(window, kPing + 30, 1, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostMessageW(window, kPing + 30, 1, 0));
    EXPECT_EQ(findings.Count("handle"), 0u);
    EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(uintptr_t(0x7FFF0000)), kPing, 0, 0), 0);
    EXPECT_EQ(findings.Count("handle"), 1u);
    EXPECT_TRUE(seen.messages.empty());
}

TEST_F(SendMessageTest, ASenderWaitingForAWindowThatGoesGetsZero)
{
    Seen seen;
    HWND window = Create(&seen);
    LRESULT result = -1;
    std::thread sender([&] { result = SendMessageW(window, kPing + 20, 1, 0); });
    AwaitSend();
    EXPECT_TRUE(DestroyWindow(window));
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(seen.messages.empty());

    // The same when the owning thread ends: its windows go with it.
    std::atomic<HWND> orphan{nullptr};
    std::thread owner([&] {
        orphan = Create(&seen);
        AwaitSend();
    });
    while (!orphan) std::this_thread::yield();
    EXPECT_EQ(SendMessageW(orphan, kPing + 20, 1, 0), 0);
    owner.join();
    EXPECT_FALSE(IsWindow(orphan));
    EXPECT_TRUE(seen.messages.empty());
}

constexpr int kBar = 1001;

struct Transfer {
    std::atomic<bool> cancelled{false};
    std::atomic<int> result{-1};
};

INT_PTR CALLBACK TransferProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        reinterpret_cast<Transfer*>(GetWindowLongPtrW(dialog, GWLP_USERDATA))->cancelled = true;
    }
    return FALSE;
}

TEST_F(SendMessageTest, AWorkerMovesTheBarOfAModelessDialogWhileItsOwnerLoops)
{
    InitCommonControls();
    HWND dialog = CreateDialogParamW(GetModuleHandleA(NULL), MAKEINTRESOURCEW(140), NULL, TransferProc, 0);
    ASSERT_NE(dialog, nullptr);
    Transfer transfer;
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&transfer));
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(dialog, &rect));
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    EXPECT_EQ(width, 279);
    EXPECT_TRUE(SetWindowPos(dialog, NULL, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                             (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE));
    ASSERT_TRUE(GetWindowRect(dialog, &rect));
    EXPECT_EQ(rect.left, (1920 - width) / 2);
    EXPECT_EQ(rect.bottom - rect.top, height);
    ShowWindow(dialog, SW_SHOWNORMAL);
    EXPECT_TRUE(SetForegroundWindow(dialog));

    std::thread worker([&] {
        HWND bar = GetDlgItem(dialog, kBar);
        for (int done = 0; done <= 400; done += 100) {
            SendMessageW(bar, PBM_SETRANGE32, 0, 400);
            SendMessageW(bar, PBM_SETPOS, WPARAM(done), 0);
        }
        transfer.result = 0;
        PostMessageW(dialog, WM_NULL, 0, 0);  // wakes the loop
    });
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0 && transfer.result == -1) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    worker.join();
    EXPECT_EQ(transfer.result, 0);
    umsim::Dialog view(dialog);
    EXPECT_EQ(view.Position(kBar), 400);
    EXPECT_EQ(view.Range(kBar), std::make_pair(0, 400));
    EXPECT_NE(view.Picture().find("[####"), std::string::npos) << view.Picture();
    EXPECT_TRUE(DestroyWindow(dialog));
}

}  // namespace
