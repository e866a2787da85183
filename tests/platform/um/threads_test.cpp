// Threads: suspended creation, resume, exit codes, priorities, termination.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

DWORD WINAPI SignalAndReturn(LPVOID parameter)
{
    SetEvent(static_cast<HANDLE>(parameter));
    return 42;
}

}  // namespace

TEST(Threads, ASuspendedThreadRunsOnlyAfterResume)
{
    HANDLE ran = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, SignalAndReturn, ran, CREATE_SUSPENDED, NULL);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(ran, 0), DWORD(WAIT_TIMEOUT));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(WaitForSingleObject(ran, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(ran);
}

TEST(Threads, TerminatingAThreadThatNeverRanEndsItWithTheCode)
{
    HANDLE ran = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, SignalAndReturn, ran, CREATE_SUSPENDED, NULL);
    EXPECT_TRUE(TerminateThread(thread, 7));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 7u);
    ResumeThread(thread);
    EXPECT_EQ(WaitForSingleObject(ran, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(thread);
    CloseHandle(ran);
}

TEST(Threads, ARunningThreadCannotBeTerminated)
{
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(
        NULL, 0, [](LPVOID p) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(p), INFINITE); }, release, 0,
        NULL);
    EXPECT_FALSE(TerminateThread(thread, 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(release);
}

TEST(Threads, PrioritiesAreKeptAndCheckedForRange)
{
    HANDLE ran = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, SignalAndReturn, ran, CREATE_SUSPENDED, NULL);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_FALSE(SetThreadPriority(thread, 5));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    TerminateThread(thread, 0);
    CloseHandle(thread);
    CloseHandle(ran);
}
