// Dialogs from the program's resources and from templates in memory, played
// by scripts: a settings dialog whose procedure reacts as a product's does
// (trackbar notifications, posted refreshes, lists, a nested About box).
#include <windows.h>
#include <commctrl.h>

#include "templatebuilder.h"
#include "um/desktop.h"
#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <atomic>
#include <thread>

namespace {

constexpr int kTrackbar = 1000, kLengthLabel = 1002, kLatencyLabel = 1003, kRates = 1005, kDevices = 1007,
              kProgress = 1010, kAbout = 104, kAboutText = 2000;

struct Settings {
    int bufferLength = 10;
    int rate = 48000;
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(dialog, kAboutText, "Driver Version: 1.5.4 (Debug)\n\nOther Version: 0.0.0.0");
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

void Refresh(HWND dialog, const Settings& s)
{
    char text[32];
    snprintf(text, sizeof text, "%d ms", s.bufferLength);
    SetDlgItemTextA(dialog, kLengthLabel, text);
    snprintf(text, sizeof text, "%.1f ms", 2 * s.bufferLength + 1.3f);
    SetDlgItemTextA(dialog, kLatencyLabel, text);
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* s = reinterpret_cast<Settings*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        s = reinterpret_cast<Settings*>(lParam);
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleA(NULL), MAKEINTRESOURCEW(107), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        SendDlgItemMessageW(dialog, kTrackbar, TBM_SETRANGE, TRUE, MAKELPARAM(1, 20));
        SendDlgItemMessageW(dialog, kTrackbar, TBM_SETPOS, TRUE, s->bufferLength);
        for (const char* rate : {"44100", "48000"}) {
            SendDlgItemMessageA(dialog, kRates, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
        }
        SendDlgItemMessageA(dialog, kRates, CB_SETCURSEL, s->rate == 44100 ? 0 : 1, 0);
        SendDlgItemMessageW(dialog, kDevices, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Interface A"));
        SendDlgItemMessageW(dialog, kDevices, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Interface B"));
        SendDlgItemMessageW(dialog, kDevices, CB_SETCURSEL, 0, 0);
        SendDlgItemMessageW(dialog, kProgress, PBM_SETPOS, 40, 0);
        PostMessageW(dialog, WM_USER, 0, 0);
        return TRUE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom != kTrackbar) return FALSE;
        if (header->code == NM_RELEASEDCAPTURE) {
            EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
        } else if (header->code == NM_CUSTOMDRAW) {
            s->bufferLength = int(SendDlgItemMessageW(dialog, kTrackbar, TBM_GETPOS, 0, 0));
            PostMessageW(dialog, WM_USER, 0, 0);
        }
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, CDRF_DODEFAULT);
        return TRUE;
    }
    case WM_USER: Refresh(dialog, *s); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kAbout:
            DialogBoxParamW(GetModuleHandleA(NULL), MAKEINTRESOURCEW(103), dialog, AboutProc, 0);
            return TRUE;
        case kRates:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                s->rate = SendDlgItemMessageW(dialog, kRates, CB_GETCURSEL, 0, 0) == 0 ? 44100 : 48000;
                EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
            }
            return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(dialog, LOWORD(wParam)); return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

class Dialogs : public testing::Test {
protected:
    void SetUp() override
    {
        umsim::ResetDesktop();
        InitCommonControls();
        m_handles = umsim::OpenHandleCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(umsim::OpenHandleCount(), m_handles) << "a window outlived its dialog";
        umsim::ResetDesktop();
    }
    INT_PTR ShowSettings(Settings& s)
    {
        return DialogBoxParamW(GetModuleHandleA(NULL), MAKEINTRESOURCEW(129), NULL, SettingsProc,
                               reinterpret_cast<LPARAM>(&s));
    }

private:
    size_t m_handles = 0;
};

TEST_F(Dialogs, ScriptSeesTheInitialisedDialogAndItsPostedRefresh)
{
    Settings s;
    umsim::OnDialog(129, [](umsim::Dialog& d) {
        EXPECT_EQ(d.Caption(), "Settings");
        EXPECT_EQ(d.Text(kLengthLabel), "10 ms");
        EXPECT_EQ(d.Text(kLatencyLabel), "21.3 ms");
        EXPECT_EQ(d.Range(kTrackbar), std::make_pair(1, 20));
        EXPECT_EQ(d.ComboItems(kRates), (std::vector<std::string>{"44100", "48000"}));
        EXPECT_EQ(d.ComboSelection(kRates), 1);
        EXPECT_FALSE(d.IsEnabled(IDOK));
        EXPECT_NE(d.SmallIcon(), nullptr);
        EXPECT_FALSE(d.Press(IDOK)) << "a disabled button cannot be pressed";
        EXPECT_TRUE(d.Press(IDCANCEL));
    });
    EXPECT_EQ(ShowSettings(s), IDCANCEL);
    auto shown = umsim::DialogsShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].resourceId, 129);
    EXPECT_TRUE(shown[0].scripted);
    EXPECT_EQ(shown[0].ending, umsim::DialogEnding::ByProcedure);
}

TEST_F(Dialogs, ClosingTheWindowIsCancel)
{
    Settings s;
    umsim::OnDialog(129, [](umsim::Dialog& d) { EXPECT_TRUE(d.Close()); });
    EXPECT_EQ(ShowSettings(s), IDCANCEL);
    EXPECT_EQ(umsim::DialogsShown().at(0).ending, umsim::DialogEnding::ByProcedure);
}

TEST_F(Dialogs, MovingTheTrackbarNotifiesAsADragDoes)
{
    Settings s;
    umsim::OnDialog("Settings", [](umsim::Dialog& d) {
        EXPECT_TRUE(d.MoveTrackbar(kTrackbar, 5));
        EXPECT_EQ(d.Text(kLengthLabel), "5 ms");
        EXPECT_EQ(d.Text(kLatencyLabel), "11.3 ms");
        EXPECT_TRUE(d.IsEnabled(IDOK));
        EXPECT_TRUE(d.MoveTrackbar(kTrackbar, 99));  // clamped to the range
        EXPECT_EQ(d.Position(kTrackbar), 20);
        EXPECT_TRUE(d.Press(IDOK));
    });
    EXPECT_EQ(ShowSettings(s), IDOK);
    EXPECT_EQ(s.bufferLength, 20);
}

TEST_F(Dialogs, PickingAListEntrySendsTheSelectionChange)
{
    Settings s;
    umsim::OnDialog(129, [](umsim::Dialog& d) {
        EXPECT_FALSE(d.Pick(kRates, "96000"));
        EXPECT_FALSE(d.Pick(kRates, 2));
        EXPECT_FALSE(d.IsEnabled(IDOK));
        EXPECT_TRUE(d.Pick(kRates, "44100"));
        EXPECT_EQ(d.Text(kRates), "44100");
        EXPECT_TRUE(d.Press(IDOK));
    });
    EXPECT_EQ(ShowSettings(s), IDOK);
    EXPECT_EQ(s.rate, 44100);
}

TEST_F(Dialogs, ANestedModalDialogRunsItsOwnScriptOverADisabledOwner)
{
    Settings s;
    std::string aboutText;
    umsim::OnDialog(103, [&](umsim::Dialog& about) {
        aboutText = about.Text(kAboutText);
        auto open = umsim::OpenDialogs();
        ASSERT_EQ(open.size(), 2u);
        EXPECT_FALSE(IsWindowEnabled(static_cast<HWND>(open[0].Handle()))) << "the owner takes no input";
        EXPECT_TRUE(about.Press(IDOK));
    });
    umsim::OnDialog(129, [](umsim::Dialog& d) {
        EXPECT_TRUE(d.Press(kAbout));
        EXPECT_TRUE(IsWindowEnabled(static_cast<HWND>(d.Handle())));
    });
    EXPECT_EQ(ShowSettings(s), IDCANCEL);
    EXPECT_EQ(aboutText, "Driver Version: 1.5.4 (Debug)\n\nOther Version: 0.0.0.0");
    auto shown = umsim::DialogsShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "About");
    EXPECT_EQ(shown[0].result, IDOK);
    EXPECT_EQ(shown[1].ending, umsim::DialogEnding::ByDefaultClose) << "the script left it open";
}

TEST_F(Dialogs, TheDialogPrintsAsText)
{
    Settings s;
    std::string picture;
    umsim::OnDialog(129, [&](umsim::Dialog& d) { picture = d.Picture(); });
    ShowSettings(s);
    EXPECT_EQ(picture, R"(+- Settings -----------------------------------------------+
|                                                          |
|                       <bitmap 206>                       |
|                                                          |
|                                                          |
|                                                          |
|  +- Global Settings -----------------------------------+ |
|  | Buffer Length                                       | |
|  |                                                     | |
|  | |--------------------O-----------------------|      | |
|  |                                               10 ms | |
|  |                                                     | |
|  +-----------------------------------------------------+ |
|                                                          |
|  +- Device --------------------------------------------+ |
|  |       Hardware Device: [Interface A              ▼] | |
|  |                                                     | |
|  |                                                     | |
|  | Latency:   21.3 ms        Sample Rate  [48000    ▼] | |
|  |                                                     | |
|  | [#######...........]                                | |
|  +-----------------------------------------------------+ |
|                                                          |
|    [ About... ]                 [-OK-]      [ Cancel ]   |
|                                                          |
|                                                          |
+----------------------------------------------------------+
)");
}

// A template in memory whose procedure ignores everything.
std::vector<uint8_t> DeafDialog(bool extended)
{
    return TemplateBuilder(extended, WS_POPUP | WS_CAPTION, 100, 40, u"Deaf")
        .Add(BS_PUSHBUTTON, 10, 20, 40, 14, IDCANCEL, 0x80, u"Cancel")
        .Bytes();
}

INT_PTR CALLBACK IgnoreAll(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class UnscriptedDialog : public Dialogs, public testing::WithParamInterface<bool> {};

TEST_P(UnscriptedDialog, EndsAtOnceWithCancelAndIsRecorded)
{
    std::vector<uint8_t> bytes = DeafDialog(GetParam());
    auto* t = reinterpret_cast<const DLGTEMPLATE*>(bytes.data());
    EXPECT_EQ(DialogBoxIndirectParamW(NULL, t, NULL, IgnoreAll, 0), IDCANCEL);
    auto shown = umsim::DialogsShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Deaf");
    EXPECT_FALSE(shown[0].scripted);
    EXPECT_EQ(shown[0].ending, umsim::DialogEnding::Forced) << "the procedure never ended it";
}

INSTANTIATE_TEST_SUITE_P(BothForms, UnscriptedDialog, testing::Bool());

TEST_F(Dialogs, CreationFailsCleanly)
{
    umsim::ResetDesktop();  // the common control classes are not registered
    Settings s;
    EXPECT_EQ(ShowSettings(s), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_EQ(DialogBoxParamW(GetModuleHandleA(NULL), MAKEINTRESOURCEW(555), NULL, SettingsProc, 0), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    std::vector<uint8_t> bytes = DeafDialog(true);
    bytes[bytes.size() - 18] = 0x84;  // a scroll bar: a class the desktop does not offer
    EXPECT_EQ(DialogBoxIndirectParamW(NULL, reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), NULL, IgnoreAll, 0),
              -1);
    EXPECT_TRUE(umsim::DialogsShown().empty());
}

TEST_F(Dialogs, AWindowUsedAfterItsDialogEndedIsAVerifierFinding)
{
    Settings s;
    HWND seen = NULL;
    umsim::OnDialog(129, [&](umsim::Dialog& d) { seen = static_cast<HWND>(d.Handle()); });
    ShowSettings(s);
    umsim::ViolationCapture capture;
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_EQ(capture.Count("handle"), 0u) << "IsWindow is how one asks";
    EXPECT_FALSE(SetDlgItemTextA(seen, kLengthLabel, "x"));
    EXPECT_FALSE(DestroyWindow(seen));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(capture.Count("handle"), 2u);
    // A message is the one use another thread cannot avoid racing with the
    // window's end: it fails as on Windows, without a finding.
    EXPECT_FALSE(PostMessageW(seen, WM_USER, 0, 0));
    EXPECT_EQ(capture.Count("handle"), 2u);
}

TEST_F(Dialogs, AScriptRunsOnTheThreadThatShowsTheDialog)
{
    Settings s;
    std::thread::id scriptThread;
    umsim::OnDialog(129, [&](umsim::Dialog& d) {
        scriptThread = std::this_thread::get_id();
        // Reading works from anywhere; acting only on the dialog's thread.
        umsim::ViolationCapture capture;
        std::thread other([&] {
            EXPECT_EQ(d.Text(kLengthLabel), "10 ms");
            EXPECT_FALSE(d.Press(IDCANCEL));
        });
        other.join();
        EXPECT_TRUE(capture.Saw("desktop", "thread other than its dialog's"));
    });
    std::thread shower([&] { EXPECT_EQ(ShowSettings(s), IDCANCEL); });
    std::thread::id showerId = shower.get_id();
    shower.join();
    EXPECT_EQ(scriptThread, showerId);
    EXPECT_EQ(umsim::DialogsShown().size(), 1u);
}

}  // namespace

namespace {

constexpr int kDownloadProgress = 1001;

INT_PTR CALLBACK DownloadProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        *reinterpret_cast<std::atomic<bool>*>(GetWindowLongPtrW(dialog, GWLP_USERDATA)) = true;
    }
    return FALSE;
}

TEST_F(Dialogs, AModelessDialogIsPlayedFromItsThreadsMessageLoop)
{
    std::vector<uint8_t> bytes = TemplateBuilder(true, WS_POPUP | WS_CAPTION, 186, 64, u"Download")
                                     .Add(0, 7, 21, 172, 14, kDownloadProgress, 0, u"", PROGRESS_CLASSW)
                                     .Add(BS_PUSHBUTTON, 68, 42, 50, 14, IDCANCEL, 0x80, u"Cancel")
                                     .Bytes();
    HWND dialog = CreateDialogIndirectParamW(NULL, reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), NULL,
                                             DownloadProc, 0);
    ASSERT_NE(dialog, nullptr);
    std::atomic<bool> cancelled{false};
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&cancelled));
    int scriptRuns = 0;
    umsim::OnDialog("Download", [&](umsim::Dialog& d) {
        ++scriptRuns;
        EXPECT_TRUE(d.Press(IDCANCEL));
    });
    MSG msg{};
    EXPECT_FALSE(PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(scriptRuns, 0) << "nobody sees a hidden dialog";
    EXPECT_FALSE(ShowWindow(dialog, SW_SHOWNORMAL));

    // A worker updates the bar (served at once) and posts when done.
    std::thread worker([&] {
        SendDlgItemMessageW(dialog, kDownloadProgress, PBM_SETRANGE32, 0, 200);
        SendDlgItemMessageW(dialog, kDownloadProgress, PBM_SETPOS, 150, 0);
        PostMessageW(dialog, WM_USER, 0, 0);
    });
    EXPECT_EQ(GetMessageW(&msg, NULL, 0, 0), TRUE);
    worker.join();
    EXPECT_EQ(msg.hwnd, dialog);
    EXPECT_EQ(msg.message, UINT(WM_USER));
    EXPECT_TRUE(IsDialogMessageW(dialog, &msg));
    EXPECT_EQ(scriptRuns, 1);
    EXPECT_TRUE(cancelled) << "the script pressed Cancel once the dialog was visible";
    EXPECT_EQ(umsim::Dialog(dialog).Position(kDownloadProgress), 150);

    // A worker may instead wake the loop with a message for the thread.
    const DWORD self = GetCurrentThreadId();
    std::thread([self] { EXPECT_TRUE(PostThreadMessageW(self, WM_NULL, 5, 0)); }).join();
    EXPECT_EQ(GetMessageW(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 5u);
    std::thread([] {
        EXPECT_FALSE(PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0)) << "a thread without a queue";
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_THREAD_ID));
    }).join();

    PostQuitMessage(3);
    EXPECT_TRUE(PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(GetMessageW(&msg, NULL, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(scriptRuns, 1);
    EXPECT_TRUE(DestroyWindow(dialog));
}

}  // namespace
