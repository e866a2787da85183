// CancelIo and the last CloseHandle against requests in every stage: ones
// completing on another thread at that moment, and stream requests queued on
// a pin that is not processing.
#include "machinefixture.h"

#include "um/umverifier.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

class CancelIoTest : public umtest::MachineTest {
protected:
    void SetUp() override
    {
        umtest::FakeFilterScenario scenario;
        umtest::FakePin sink;
        sink.ranges = umtest::FakeRanges::Midi;
        scenario.pins.push_back(sink);
        BootFake(scenario);
        m_filter = umtest::OpenOverlapped(FirstPath());
        ASSERT_NE(m_filter, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (m_pin) CloseHandle(m_pin);
        if (m_filter != INVALID_HANDLE_VALUE) CloseHandle(m_filter);
        MachineTest::TearDown();
    }

    // The scripted sink pin (it never processes), in PAUSE.
    void OpenPausedPin()
    {
        ASSERT_EQ(umtest::CreateScriptedMidiPin(m_filter, &m_pin), DWORD(ERROR_SUCCESS));
        for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE}) ASSERT_TRUE(umtest::SetPinState(m_pin, state));
    }

    // A write of one frame that stays queued on the paused pin.
    void QueueWrite()
    {
        m_header.Size = sizeof(KSSTREAM_HEADER);
        m_header.Data = m_frame;
        m_header.FrameExtent = sizeof m_frame;
        m_header.DataUsed = sizeof m_frame;
        m_event = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_overlapped.hEvent = m_event;
        DWORD bytes = 0;
        EXPECT_FALSE(DeviceIoControl(m_pin, IOCTL_KS_WRITE_STREAM, NULL, 0, &m_header, sizeof m_header, &bytes,
                                     &m_overlapped));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
        EXPECT_EQ(WaitForSingleObject(m_event, 0), DWORD(WAIT_TIMEOUT));
    }

    HANDLE m_filter = INVALID_HANDLE_VALUE;
    HANDLE m_pin = NULL;
    HANDLE m_event = NULL;
    OVERLAPPED m_overlapped{};
    KSSTREAM_HEADER m_header{};
    uint8_t m_frame[16] = {};
};

TEST_F(CancelIoTest, CancelIoEndsAWriteQueuedOnAPausedPin)
{
    OpenPausedPin();
    QueueWrite();
    EXPECT_TRUE(CancelIo(m_pin));
    // The pin's queue ends the request in its cancel routine.
    EXPECT_EQ(WaitForSingleObject(m_event, 0), WAIT_OBJECT_0);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(m_pin, &m_overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
    CloseHandle(m_event);
}

TEST_F(CancelIoTest, ClosingAPausedPinWithAQueuedWriteReturnsAndCancelsIt)
{
    OpenPausedPin();
    QueueWrite();
    EXPECT_TRUE(CloseHandle(m_pin));
    m_pin = NULL;
    EXPECT_EQ(WaitForSingleObject(m_event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(m_overlapped.Internal, ULONG_PTR(0xC0000120));
    CloseHandle(m_event);
}

// Requests that complete on one thread while another cancels everything on
// the handle: the ones already completed are left alone, with no finding.
class CancelIoRace : public CancelIoTest {};

TEST_F(CancelIoRace, CancelsOnlyRequestsNotYetCompleted)
{
    umsim::ViolationCapture findings;
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        KSPROPERTY request{};
        memcpy(&request.Set, umtest::kScriptedPropertySet, sizeof(GUID));
        request.Id = umtest::kEmptyProperty;
        request.Flags = KSPROPERTY_TYPE_GET;
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
        for (int i = 0; i < 300000 && !stop; ++i) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event;
            ULONG value = 0;
            DWORD bytes = 0;
            if (!DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &request, sizeof request, &value, sizeof value,
                                 &bytes, &overlapped)) {
                GetOverlappedResult(m_filter, &overlapped, &bytes, TRUE);
            }
        }
        CloseHandle(event);
        stop = true;
    });
    while (!stop) {
        CancelIo(m_filter);
        if (findings.Count("irp") > 0) stop = true;
    }
    sender.join();
    EXPECT_EQ(findings.Count("irp"), 0u) << (findings.Messages().empty() ? "" : findings.Messages().front());
}

}  // namespace
