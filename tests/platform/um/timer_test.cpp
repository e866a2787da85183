// The multimedia timer: periods begun and ended in pairs, and time that is
// the virtual machine's bus clock while a machine is booted.
#include <windows.h>

#include "testmachine.h"
#include "um/virtualmachine.h"

#include <gtest/gtest.h>

namespace {

TEST(MultimediaTimer, EndingAPeriodNeedsAMatchingBegin)
{
    EXPECT_EQ(timeBeginPeriod(0), MMRESULT(TIMERR_NOCANDO));
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOCANDO));
    EXPECT_EQ(timeBeginPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeBeginPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeEndPeriod(2), MMRESULT(TIMERR_NOCANDO));
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOERROR));
    EXPECT_EQ(timeEndPeriod(1), MMRESULT(TIMERR_NOCANDO));
}

TEST(MultimediaTimer, TimeIsTheBusFrameCounterOfTheBootedMachine)
{
    umsim::VirtualMachine vm(umtest::DriverEntryOfMrvUsbAudio());
    ASSERT_TRUE(vm.Booted());
    DWORD start = timeGetTime();
    EXPECT_EQ(start, vm.CurrentFrame());
    vm.StepFrames(25);
    EXPECT_EQ(timeGetTime() - start, 25u);
}

}  // namespace
