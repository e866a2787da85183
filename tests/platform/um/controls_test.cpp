// The control classes' messages, window texts and longs, on a modeless
// dialog made from a template in memory; message boxes and key state.
#include <windows.h>
#include <commctrl.h>

#include "templatebuilder.h"
#include "um/desktop.h"
#include "um/umverifier.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int kCombo = 10, kTrackbar = 11, kProgress = 12, kEdit = 13, kLabel = 14;

INT_PTR CALLBACK Silent(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class Controls : public testing::Test {
protected:
    void SetUp() override
    {
        umsim::ResetDesktop();
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&classes));
        m_bytes = TemplateBuilder(true, WS_POPUP | WS_CAPTION | DS_SETFONT, 120, 80, u"Controls")
                      .Add(CBS_DROPDOWNLIST, 5, 5, 60, 40, kCombo, 0x85, u"")
                      .Add(0, 5, 20, 100, 12, kTrackbar, 0, u"", u"msctls_trackbar32")
                      .Add(0, 5, 35, 100, 8, kProgress, 0, u"", u"Msctls_Progress32")
                      .Add(0, 5, 45, 60, 12, kEdit, 0x81, u"")
                      .Add(SS_LEFT, 5, 60, 60, 8, kLabel, 0x82, u"Label")
                      .Bytes();
        auto* t = reinterpret_cast<const DLGTEMPLATE*>(m_bytes.data());
        m_dialog = CreateDialogIndirectParamW(NULL, t, NULL, Silent, 0);
        ASSERT_NE(m_dialog, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(DestroyWindow(m_dialog)); }

    LRESULT Send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return SendDlgItemMessageW(m_dialog, id, message, wParam, lParam);
    }
    LRESULT SendA(int id, UINT message, WPARAM wParam, const char* text)
    {
        return SendDlgItemMessageA(m_dialog, id, message, wParam, reinterpret_cast<LPARAM>(text));
    }

    std::vector<uint8_t> m_bytes;
    HWND m_dialog = NULL;
};

TEST_F(Controls, ComboBoxKeepsEntriesAndSelection)
{
    EXPECT_EQ(Send(kCombo, CB_GETCURSEL), CB_ERR);
    EXPECT_EQ(SendA(kCombo, CB_ADDSTRING, 0, "16 bit"), 0);
    EXPECT_EQ(SendA(kCombo, CB_ADDSTRING, 0, "24 bit"), 1);
    EXPECT_EQ(SendA(kCombo, CB_ADDSTRING, 0, "Caf\xE9"), 2);  // the ANSI code page
    EXPECT_EQ(Send(kCombo, CB_GETCOUNT), 3);
    EXPECT_EQ(Send(kCombo, CB_SETCURSEL, 1), 1);
    EXPECT_EQ(Send(kCombo, CB_GETCURSEL), 1);
    char text[16] = {};
    EXPECT_EQ(GetDlgItemTextA(m_dialog, kCombo, text, sizeof text), 6u);
    EXPECT_STREQ(text, "24 bit");
    EXPECT_EQ(Send(kCombo, CB_GETLBTEXTLEN, 2), 4);
    EXPECT_EQ(SendA(kCombo, CB_GETLBTEXT, 2, text), 4);
    EXPECT_STREQ(text, "Caf\xE9");
    EXPECT_EQ(umsim::Dialog(m_dialog).ComboItems(kCombo)[2], "Caf\xC3\xA9") << "the control surface speaks UTF-8";
    EXPECT_EQ(Send(kCombo, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(text)), CB_ERR);
    EXPECT_EQ(SendA(kCombo, CB_FINDSTRINGEXACT, WPARAM(-1), "24 BIT"), 1);
    // Out of range clears the selection.
    EXPECT_EQ(Send(kCombo, CB_SETCURSEL, 7), CB_ERR);
    EXPECT_EQ(Send(kCombo, CB_GETCURSEL), CB_ERR);
    Send(kCombo, CB_SETCURSEL, 2);
    EXPECT_EQ(Send(kCombo, CB_DELETESTRING, 0), 2);
    EXPECT_EQ(Send(kCombo, CB_GETCURSEL), 1) << "the selection follows its entry";
    EXPECT_EQ(Send(kCombo, CB_RESETCONTENT), 0);
    EXPECT_EQ(Send(kCombo, CB_GETCOUNT), 0);
    EXPECT_EQ(Send(kCombo, CB_GETCURSEL), CB_ERR);
}

struct RangeCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int low, high, position;  // afterwards, read back
};

class Trackbar : public Controls, public testing::WithParamInterface<RangeCase> {};

// Starting from range 1..20 at 10.
TEST_P(Trackbar, KeepsItsPositionInsideItsRange)
{
    Send(kTrackbar, TBM_SETRANGE, TRUE, MAKELPARAM(1, 20));
    Send(kTrackbar, TBM_SETPOS, TRUE, 10);
    const RangeCase& c = GetParam();
    Send(kTrackbar, c.message, c.wParam, c.lParam);
    EXPECT_EQ(Send(kTrackbar, TBM_GETRANGEMIN), c.low);
    EXPECT_EQ(Send(kTrackbar, TBM_GETRANGEMAX), c.high);
    EXPECT_EQ(Send(kTrackbar, TBM_GETPOS), c.position);
}

INSTANTIATE_TEST_SUITE_P(Messages, Trackbar,
                         testing::Values(RangeCase{"Position", TBM_SETPOS, TRUE, 5, 1, 20, 5},
                                         RangeCase{"AboveTheRange", TBM_SETPOS, TRUE, 21, 1, 20, 20},
                                         RangeCase{"BelowTheRange", TBM_SETPOS, TRUE, -3, 1, 20, 1},
                                         RangeCase{"NarrowerRange", TBM_SETRANGE, TRUE, MAKELPARAM(12, 15), 12, 15, 12},
                                         RangeCase{"RaisedMinimum", TBM_SETRANGEMIN, TRUE, 11, 11, 20, 11},
                                         RangeCase{"LoweredMaximum", TBM_SETRANGEMAX, TRUE, 8, 1, 8, 8}),
                         [](const auto& info) { return info.param.name; });

class ProgressBar : public Controls, public testing::WithParamInterface<RangeCase> {};

// Starting from range 0..100 at 90 in steps of 10 (Windows' defaults but the position).
TEST_P(ProgressBar, MovesInsideItsRange)
{
    Send(kProgress, PBM_SETPOS, 90);
    const RangeCase& c = GetParam();
    Send(kProgress, c.message, c.wParam, c.lParam);
    PBRANGE range{};
    EXPECT_EQ(Send(kProgress, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range)), c.low);
    EXPECT_EQ(range.iHigh, c.high);
    EXPECT_EQ(Send(kProgress, PBM_GETPOS), c.position);
}

INSTANTIATE_TEST_SUITE_P(Messages, ProgressBar,
                         testing::Values(RangeCase{"Step", PBM_STEPIT, 0, 0, 0, 100, 100},
                                         RangeCase{"Delta", PBM_DELTAPOS, WPARAM(-30), 0, 0, 100, 60},
                                         RangeCase{"DeltaPastTheEnd", PBM_DELTAPOS, 50, 0, 0, 100, 100},
                                         RangeCase{"Range", PBM_SETRANGE, 0, MAKELPARAM(0, 50), 0, 50, 50},
                                         RangeCase{"Range32", PBM_SETRANGE32, 100, 100000, 100, 100000, 100}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Controls, ProgressBarAnswersWithWhatWasBefore)
{
    EXPECT_EQ(Send(kProgress, PBM_SETRANGE32, 0, 4), MAKELRESULT(0, 100));
    EXPECT_EQ(Send(kProgress, PBM_SETSTEP, 3), 10);
    EXPECT_EQ(Send(kProgress, PBM_STEPIT), 0);
    EXPECT_EQ(Send(kProgress, PBM_STEPIT), 3);
    EXPECT_EQ(Send(kProgress, PBM_GETPOS), 0) << "past the end it starts over";
}

TEST_F(Controls, TextsRoundTripInBothCharacterSets)
{
    EXPECT_TRUE(SetWindowTextA(m_dialog, "Caf\xE9"));
    char16_t wide[8] = {};
    EXPECT_EQ(GetWindowTextW(m_dialog, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"Caf\u00E9");
    EXPECT_TRUE(SetWindowTextW(m_dialog, u"\u20AC1"));
    EXPECT_EQ(GetWindowTextLengthW(m_dialog), 2);
    char euro[8] = {};
    EXPECT_EQ(GetWindowTextA(m_dialog, euro, sizeof euro), 2) << "what the code page lacks is replaced, not dropped";
    EXPECT_TRUE(SetWindowTextA(m_dialog, "Caf\xE9"));
    char cut[4];
    EXPECT_EQ(GetWindowTextA(m_dialog, cut, sizeof cut), 3) << "cut to the buffer, terminated";
    EXPECT_STREQ(cut, "Caf");
    EXPECT_TRUE(SetDlgItemTextW(m_dialog, kLabel, u"5 ms"));
    EXPECT_EQ(umsim::Dialog(m_dialog).Text(kLabel), "5 ms");
    EXPECT_FALSE(SetDlgItemTextA(m_dialog, 99, "x"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CONTROL_ID_NOT_FOUND));
}

TEST_F(Controls, WindowLongsAndIds)
{
    HWND label = GetDlgItem(m_dialog, kLabel);
    EXPECT_EQ(GetDlgCtrlID(label), kLabel);
    EXPECT_EQ(GetParent(label), m_dialog);
    EXPECT_EQ(SetWindowLongPtrW(m_dialog, GWLP_USERDATA, 1234), 0);
    EXPECT_EQ(GetWindowLongPtrA(m_dialog, GWLP_USERDATA), 1234);
    SetWindowLongPtrW(m_dialog, DWLP_USER, 77);
    EXPECT_EQ(GetWindowLongPtrW(m_dialog, DWLP_USER), 77);
    EXPECT_EQ(GetWindowLongW(label, GWLP_ID), kLabel);
    EXPECT_EQ(SetWindowLongPtrW(label, GWLP_WNDPROC, 1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_INDEX));
    EXPECT_TRUE(IsWindowEnabled(label));
    EXPECT_FALSE(EnableWindow(label, FALSE)) << "it was enabled";
    EXPECT_TRUE(GetWindowLongW(label, GWL_STYLE) & WS_DISABLED);
    EXPECT_TRUE(EnableWindow(label, TRUE)) << "it was disabled";
}

TEST_F(Controls, ControlsAreNotClosedAsKernelObjects)
{
    umsim::ViolationCapture capture;
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(GetDlgItem(m_dialog, kLabel))));
    EXPECT_TRUE(capture.Saw("handle", "a window is not closed this way"));
}

TEST_F(Controls, TypingIntoAnEditControl)
{
    umsim::Dialog dialog(m_dialog);
    EXPECT_TRUE(dialog.Type(kEdit, "typed"));
    EXPECT_EQ(dialog.Text(kEdit), "typed");
    EXPECT_FALSE(dialog.Type(kLabel, "no")) << "a static takes no typing";
}

// ---- Message boxes ---------------------------------------------------------

struct BoxCase {
    const char* name;
    UINT flags;
    int scripted;  // the script's answer, 0 for none
    int answer;
};

class MessageBoxes : public testing::TestWithParam<BoxCase> {
protected:
    void SetUp() override { umsim::ResetDesktop(); }
    void TearDown() override { umsim::ResetDesktop(); }
};

TEST_P(MessageBoxes, AreRecordedAndAnsweredWithoutWaiting)
{
    const BoxCase& c = GetParam();
    umsim::OnMessageBox([&](const umsim::MessageBoxRecord& box) {
        EXPECT_EQ(box.caption, "Caption");
        return c.scripted;
    });
    EXPECT_EQ(MessageBoxA(NULL, "Text", "Caption", c.flags), c.answer);
    auto shown = umsim::MessageBoxesShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Text");
    EXPECT_EQ(shown[0].flags, c.flags);
    EXPECT_EQ(shown[0].answer, c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, MessageBoxes,
    testing::Values(BoxCase{"Ok", MB_OK | MB_ICONWARNING, 0, IDOK}, BoxCase{"YesNo", MB_YESNO, 0, IDYES},
                    BoxCase{"DefaultSecond", MB_YESNO | MB_DEFBUTTON2, 0, IDNO},
                    BoxCase{"DefaultBeyondTheButtons", MB_OK | MB_DEFBUTTON3, 0, IDOK},
                    BoxCase{"ScriptSaysNo", MB_YESNO, IDNO, IDNO},
                    BoxCase{"ScriptCancels", MB_RETRYCANCEL, IDCANCEL, IDCANCEL}),
    [](const auto& info) { return info.param.name; });

TEST(MessageBoxAnswer, ThatIsNoButtonIsAFinding)
{
    umsim::ResetDesktop();
    umsim::OnMessageBox([](const umsim::MessageBoxRecord&) { return IDYES; });
    umsim::ViolationCapture capture;
    EXPECT_EQ(MessageBoxW(NULL, u"Only OK", nullptr, MB_OK), IDOK);
    EXPECT_TRUE(capture.Saw("desktop", "not one of its buttons"));
    EXPECT_EQ(umsim::MessageBoxesShown().at(0).caption, "Error") << "Windows' caption when none is given";
    EXPECT_EQ(MessageBoxA(NULL, "bad type", "x", 7), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    umsim::ResetDesktop();
}

TEST(KeyState, CapsLockIsSetByTheScript)
{
    umsim::ResetDesktop();
    EXPECT_EQ(GetKeyState(VK_CAPITAL), 0);
    umsim::SetKeyToggled(VK_CAPITAL, true);
    EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
    umsim::SetKeyDown(VK_SHIFT, true);
    EXPECT_LT(GetKeyState(VK_SHIFT), 0) << "pressed is the high bit";
    umsim::ResetDesktop();
    EXPECT_EQ(GetKeyState(VK_CAPITAL), 0);
}

}  // namespace
