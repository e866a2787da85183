// Handle checks: closing twice, using a closed handle, foreign handles.
#include <windows.h>

#include "um/umverifier.h"

#include <gtest/gtest.h>

TEST(Handles, ClosingTwiceIsAVerifierFinding)
{
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    umsim::ViolationCapture capture;
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(capture.Saw("handle", "already closed"));
}

TEST(Handles, UsingAClosedHandleIsAVerifierFinding)
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    CloseHandle(event);
    umsim::ViolationCapture capture;
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(capture.Count("handle"), 2u);
}

TEST(Handles, NullAndInvalidHandlesFailWithoutAFinding)
{
    umsim::ViolationCapture capture;
    EXPECT_FALSE(CloseHandle(NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(capture.Count("handle"), 0u);
}

TEST(Handles, TheLowTwoBitsAreTheCallersTag)
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE tagged = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    EXPECT_TRUE(SetEvent(tagged));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(tagged));
}

TEST(Handles, AHandleOfAnotherKindIsRefused)
{
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    umsim::ViolationCapture capture;
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_TRUE(capture.Saw("handle", "not a thread"));
    CloseHandle(event);
}

TEST(Handles, ClosedHandlesLeaveTheTable)
{
    size_t before = umsim::OpenHandleCount();
    HANDLE a = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE b = CreateEventA(NULL, FALSE, FALSE, NULL);
    EXPECT_EQ(umsim::OpenHandleCount(), before + 2);
    CloseHandle(a);
    CloseHandle(b);
    EXPECT_EQ(umsim::OpenHandleCount(), before);
}
