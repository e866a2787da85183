// A program's own window classes: registration, windows of them with their
// creation and destruction messages, DefWindowProc, and the system control
// classes by name.
#include <windows.h>

#include "um/desktop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::vector<UINT> g_seen;  // messages the procedure saw, on the test's thread
bool g_refuseCreate = false;

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE || message == WM_CREATE || message == WM_DESTROY || message == WM_NCDESTROY) {
        g_seen.push_back(message);
    }
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return g_refuseCreate ? -1 : 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class WindowClasses : public testing::Test {
protected:
    void SetUp() override
    {
        umsim::ResetDesktop();
        g_seen.clear();
        g_refuseCreate = false;
        m_class.cbSize = sizeof m_class;
        m_class.lpfnWndProc = Procedure;
        m_class.lpszClassName = u"CallerWindow";
    }
    void TearDown() override { umsim::ResetDesktop(); }

    HWND Create(DWORD style, void* param = nullptr)
    {
        return CreateWindowExW(0, u"callerwindow", u"Caller", style, 100, 50, 300, 200, NULL, NULL, NULL, param);
    }

    WNDCLASSEXW m_class{};
};

TEST_F(WindowClasses, AWindowOfARegisteredClassLivesThroughItsProcedure)
{
    const ATOM atom = RegisterClassExW(&m_class);
    ASSERT_NE(atom, 0);
    EXPECT_EQ(RegisterClassExW(&m_class), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));

    int data = 0;
    HWND window = Create(WS_OVERLAPPED | WS_VISIBLE, &data);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(g_seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&data));
    EXPECT_TRUE(IsWindowVisible(window));
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(window, &rect));
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.bottom, 250);

    // DefWindowProc keeps the text, in either character set.
    char text[16] = {};
    EXPECT_EQ(GetWindowTextA(window, text, sizeof text), 6);
    EXPECT_STREQ(text, "Caller");
    EXPECT_TRUE(SetWindowTextA(window, "Hidden"));
    EXPECT_EQ(GetWindowTextLengthW(window), 6);

    EXPECT_TRUE(ShowWindow(window, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(window));

    EXPECT_FALSE(UnregisterClassW(u"CallerWindow", NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_HAS_WINDOWS));
    BOOL destroyedElsewhere = TRUE;
    DWORD error = 0;
    std::thread([&] {
        destroyedElsewhere = DestroyWindow(window);
        error = GetLastError();
    }).join();
    EXPECT_FALSE(destroyedElsewhere) << "only the thread that made a window destroys it";
    EXPECT_EQ(error, DWORD(ERROR_ACCESS_DENIED));

    g_seen.clear();
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(g_seen, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(window));
    // Registered classes are found by their atom too.
    EXPECT_TRUE(UnregisterClassW(reinterpret_cast<LPCWSTR>(ULONG_PTR(atom)), NULL));
    EXPECT_FALSE(UnregisterClassW(u"CallerWindow", NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST_F(WindowClasses, CreationFailsForUnknownClassesBadParentsAndARefusingProcedure)
{
    EXPECT_EQ(Create(WS_OVERLAPPED), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));
    ASSERT_NE(RegisterClassExW(&m_class), 0);
    EXPECT_EQ(Create(WS_CHILD), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TLW_WITH_WSCHILD));

    g_refuseCreate = true;
    EXPECT_EQ(Create(WS_OVERLAPPED), nullptr);
    EXPECT_EQ(g_seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_TRUE(UnregisterClassW(u"CallerWindow", NULL)) << "the refused window is gone";
}

TEST_F(WindowClasses, TheNarrowFormsAndASystemControlAsAChild)
{
    WNDCLASSA narrow{};
    narrow.lpfnWndProc = Procedure;
    narrow.lpszClassName = "Narrow";
    ASSERT_NE(RegisterClassA(&narrow), 0);
    HWND parent = CreateWindowExA(0, "NARROW", "Owner", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, NULL, NULL, NULL, NULL);
    ASSERT_NE(parent, nullptr);
    HWND button = CreateWindowExA(0, "button", "Go", WS_CHILD | WS_VISIBLE, 10, 10, 60, 20, parent,
                                  reinterpret_cast<HMENU>(INT_PTR(7)), NULL, NULL);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(GetDlgCtrlID(button), 7);
    EXPECT_EQ(GetParent(button), parent);
    char text[8] = {};
    GetWindowTextA(button, text, sizeof text);
    EXPECT_STREQ(text, "Go");
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(button)) << "children go with their parent";
    EXPECT_TRUE(UnregisterClassA("Narrow", NULL));
}

}  // namespace
