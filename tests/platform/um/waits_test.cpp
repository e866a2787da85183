// Events and waits: auto and manual reset, waiting for any and for all,
// time-outs, and a wake-up from another thread.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

struct Events {
    explicit Events(int count, BOOL manualReset = FALSE)
    {
        for (int i = 0; i < count; ++i) handles.push_back(CreateEventA(NULL, manualReset, FALSE, NULL));
    }
    ~Events()
    {
        for (HANDLE h : handles) CloseHandle(h);
    }
    std::vector<HANDLE> handles;
};

}  // namespace

TEST(Waits, AnAutoResetEventReleasesOneWait)
{
    Events e(1);
    SetEvent(e.handles[0]);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), DWORD(WAIT_TIMEOUT));
}

TEST(Waits, AManualResetEventStaysSignalledUntilReset)
{
    Events e(1, TRUE);
    SetEvent(e.handles[0]);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), WAIT_OBJECT_0);
    ResetEvent(e.handles[0]);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), DWORD(WAIT_TIMEOUT));
}

TEST(Waits, WaitForAnyReturnsTheLowestSignalledIndex)
{
    Events e(3);
    SetEvent(e.handles[2]);
    SetEvent(e.handles[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, e.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, e.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 2);
}

TEST(Waits, WaitForAllTakesNothingUntilAllAreSignalled)
{
    Events e(2);
    SetEvent(e.handles[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles.data(), TRUE, 0), DWORD(WAIT_TIMEOUT));
    // The first event kept its signal through the failed wait.
    SetEvent(e.handles[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles.data(), TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles.data(), FALSE, 0), DWORD(WAIT_TIMEOUT));
}

TEST(Waits, ATimedWaitOnAnUnsignalledEventTimesOut)
{
    Events e(1);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 1), DWORD(WAIT_TIMEOUT));
}

TEST(Waits, BadArgumentsFail)
{
    Events e(1);
    EXPECT_EQ(WaitForMultipleObjects(0, e.handles.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, e.handles.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(CreateEventA(NULL, FALSE, FALSE, "named"), nullptr);
}

TEST(Waits, ASetFromAnotherThreadWakesAnInfiniteWait)
{
    Events e(2);
    struct Context {
        HANDLE go, done;
    } context{e.handles[0], e.handles[1]};
    HANDLE thread = CreateThread(
        NULL, 0,
        [](LPVOID p) -> DWORD {
            auto* c = static_cast<Context*>(p);
            WaitForSingleObject(c->go, INFINITE);
            SetEvent(c->done);
            return 0;
        },
        &context, 0, NULL);
    SetEvent(context.go);
    EXPECT_EQ(WaitForSingleObject(context.done, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
}
