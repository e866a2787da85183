// Threads: suspended creation, resume, exit codes, priorities, termination.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

DWORD WINAPI SignalAndReturn(LPVOID parameter)
{
    SetEvent(static_cast<HANDLE>(parameter));
    return 42;
}

struct Unwound {
    bool* flag;
    ~Unwound() { *flag = true; }
};

DWORD WINAPI ExitFromInside(LPVOID parameter)
{
    Unwound guard{static_cast<bool*>(parameter)};
    ExitThread(7);
}

DWORD WINAPI FreeOwnModuleAndExit(LPVOID parameter)
{
    FreeLibraryAndExitThread(static_cast<HMODULE>(parameter), 9);
}

}  // namespace

TEST(Threads, ExitThreadEndsTheThreadWithItsCodeAfterUnwinding)
{
    bool unwound = false;
    HANDLE thread = CreateThread(NULL, 0, ExitFromInside, &unwound, 0, NULL);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(unwound);
    CloseHandle(thread);
}

// A thread running on a hold of the module frees it as it ends: the last
// hold, so the module is unloaded.
TEST(Threads, FreeLibraryAndExitThreadLetsGoOfTheModule)
{
    HMODULE module = LoadLibraryA(MRV_TEST_MODULE);
    ASSERT_NE(module, nullptr);
    HANDLE thread = CreateThread(NULL, 0, FreeOwnModuleAndExit, module, 0, NULL);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 9u);
    EXPECT_EQ(GetModuleHandleA(MRV_TEST_MODULE), nullptr);
    CloseHandle(thread);
}

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
