// Unplugging a device while a program still has its filter and a pin open:
// the program's requests fail, it closes its handles, and only then does the
// removal finish, as Windows waits for the last handle.
#include "machinefixture.h"

#include "um/umverifier.h"

#include <thread>

namespace {

class UnplugTest : public umtest::MachineTest {
protected:
    void SetUp() override
    {
        umtest::FakePin sink;
        sink.ranges = umtest::FakeRanges::Midi;
        m_scenario.pins.push_back(sink);
        BootFake(m_scenario);
    }

    umtest::FakeFilterScenario m_scenario;
};

class UnplugRace : public UnplugTest {};

TEST_F(UnplugRace, OpenHandlesFailUntilClosedThenTheRemovalEndsAndAReplugWorks)
{
    HANDLE filter = umtest::OpenOverlapped(FirstPath());
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    HANDLE pin = NULL;
    ASSERT_EQ(umtest::CreateScriptedMidiPin(filter, &pin), DWORD(ERROR_SUCCESS));
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE}) ASSERT_TRUE(umtest::SetPinState(pin, state));
    // A write the paused pin keeps queued.
    uint8_t frame[16] = {};
    KSSTREAM_HEADER header{};
    header.Size = sizeof header;
    header.Data = frame;
    header.FrameExtent = header.DataUsed = sizeof frame;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    DWORD bytes = 0;
    ASSERT_FALSE(DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, NULL, 0, &header, sizeof header, &bytes, &overlapped));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));

    HANDLE unplugged = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread unplug([&] {
        m_machine->Unplug(m_slot);
        SetEvent(unplugged);
    });
    // The surprise removal ends the queued write.
    EXPECT_FALSE(GetOverlappedResult(pin, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));

    EXPECT_FALSE(umtest::SetPinState(pin, KSSTATE_STOP));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, NULL, 0, &header, sizeof header, &bytes, &overlapped));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    HANDLE secondPin = NULL;
    EXPECT_EQ(umtest::CreateScriptedMidiPin(filter, &secondPin), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(umtest::OpenOverlapped(FirstPath()), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CancelIo(pin));
    // The removal waits for the handles.
    EXPECT_EQ(WaitForSingleObject(unplugged, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(CloseHandle(pin));
    EXPECT_EQ(WaitForSingleObject(unplugged, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(CloseHandle(filter));
    EXPECT_EQ(WaitForSingleObject(unplugged, INFINITE), WAIT_OBJECT_0);
    unplug.join();
    EXPECT_TRUE(umtest::AudioInterfacePaths().empty());
    CloseHandle(unplugged);
    CloseHandle(overlapped.hEvent);

    umtest::SetFakeFilterScenario(m_scenario);
    int32_t status = -1;
    m_slot = m_machine->Plug(umtest::NewProductDevice(umtest::kAudioMidiProduct), &status);
    ASSERT_GE(status, 0);
    m_paths = umtest::AudioInterfacePaths();
    ASSERT_FALSE(m_paths.empty());
    filter = umtest::OpenOverlapped(FirstPath());
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    ASSERT_EQ(umtest::CreateScriptedMidiPin(filter, &pin), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(umtest::SetPinState(pin, KSSTATE_ACQUIRE));
    CloseHandle(pin);
    CloseHandle(filter);
}

// Nobody is left to close them: the handles are reported, and what the
// program still does with them fails without reaching the deleted device.
TEST_F(UnplugTest, TearingTheMachineDownUnderOpenHandlesIsAFindingAndTheyFailCleanly)
{
    HANDLE filter = umtest::OpenOverlapped(FirstPath());
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    HANDLE pin = NULL;
    ASSERT_EQ(umtest::CreateScriptedMidiPin(filter, &pin), DWORD(ERROR_SUCCESS));
    {
        umsim::ViolationCapture findings;
        m_machine.reset();
        EXPECT_TRUE(findings.Saw("handle", "2 user-mode handle(s) still open"));
    }
    EXPECT_FALSE(umtest::SetPinState(pin, KSSTATE_ACQUIRE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    HANDLE secondPin = NULL;
    EXPECT_EQ(umtest::CreateScriptedMidiPin(filter, &secondPin), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(pin));
    EXPECT_TRUE(CloseHandle(filter));
}

}  // namespace
