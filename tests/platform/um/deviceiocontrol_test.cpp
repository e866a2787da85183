// CreateFileA and DeviceIoControl on the driver's filter: synchronous and
// overlapped requests, size queries, pending requests, cancellation, and
// the kernel event behind a user-mode event handle.
#include "machinefixture.h"

#include "um/umverifier.h"

#include <cstring>

namespace {

// The driver's private settings set (UrbSize is property 0) and its event.
const GUID kDeviceSettingsSet = {0xB2F684AA, 0xC237, 0x40F0, {0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDA}};
const GUID kDeviceSettingsEvents = {0xB2F684AA, 0xC237, 0x40F0, {0xAF, 0x6A, 0x38, 0xDF, 0x8B, 0x7C, 0xD2, 0xDB}};

KSP_PIN PinRequest(ULONG property, ULONG pinId = 0)
{
    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = property;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = pinId;
    return request;
}

HANDLE OpenFilter(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
}

class DeviceIo : public umtest::MachineTest {
protected:
    void SetUp() override
    {
        Boot(umtest::kAudioMidiProduct);
        m_filter = OpenFilter(FirstPath());
        ASSERT_NE(m_filter, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override
    {
        if (m_filter != INVALID_HANDLE_VALUE) CloseHandle(m_filter);
        MachineTest::TearDown();
    }
    HANDLE m_filter = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST(DeviceIoPaths, AnUnknownPathIsFileNotFound)
{
    HANDLE h = OpenFilter("\\\\?\\usb#vid_0000&pid_0000#x#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global");
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(DeviceIo, ASynchronousPropertyReturnsItsValue)
{
    KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
    ULONG count = 0;
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &request, sizeof request, &count, sizeof count, &bytes,
                                NULL));
    EXPECT_EQ(bytes, 4u);
    EXPECT_GT(count, 0u);
}

TEST_F(DeviceIo, AnOverlappedRequestThatCompletesAtOnceStillSignalsItsEvent)
{
    KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
    ULONG count = 0;
    DWORD bytes = 0;
    OVERLAPPED overlapped{};
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    ASSERT_TRUE(DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &request, sizeof request, &count, sizeof count, &bytes,
                                &overlapped));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    DWORD transferred = 0;
    EXPECT_TRUE(GetOverlappedResult(m_filter, &overlapped, &transferred, FALSE));
    EXPECT_EQ(transferred, 4u);
    CloseHandle(event);
}

TEST_F(DeviceIo, ASizeQueryFailsWithMoreDataAndTheSize)
{
    KSP_PIN request = PinRequest(KSPROPERTY_PIN_DATARANGES);
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &request, sizeof request, NULL, 0, &bytes, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
    EXPECT_GT(bytes, sizeof(KSMULTIPLE_ITEM));
}

TEST_F(DeviceIo, ANullBufferWithALengthIsRefusedBeforeTheDriver)
{
    KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
    DWORD bytes = 0;
    EXPECT_FALSE(DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &request, sizeof request, NULL, 4, &bytes, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
}

TEST_F(DeviceIo, AnUnknownControlCodeIsAnInvalidFunction)
{
    DWORD bytes = 0;
    BYTE buffer[16] = {};
    EXPECT_FALSE(DeviceIoControl(m_filter, CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS),
                                 buffer, sizeof buffer, buffer, sizeof buffer, &bytes, NULL));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));
}

TEST_F(DeviceIo, ClosingTheFilterLeavesNoHandle)
{
    size_t before = umsim::OpenHandleCount();
    HANDLE second = OpenFilter(FirstPath());
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(umsim::OpenHandleCount(), before + 1);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(umsim::OpenHandleCount(), before);
}

TEST_F(DeviceIo, TheDriversSettingsEventSignalsAUserModeEvent)
{
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    KSEVENT enable{};
    enable.Set = kDeviceSettingsEvents;
    enable.Id = 1;
    enable.Flags = KSEVENT_TYPE_ENABLE;
    KSEVENTDATA data{};
    data.NotificationType = KSEVENTF_EVENT_HANDLE;
    data.EventHandle.Event = event;
    DWORD bytes = 0;
    ASSERT_TRUE(DeviceIoControl(m_filter, IOCTL_KS_ENABLE_EVENT, &enable, sizeof enable, &data, sizeof data, &bytes,
                                NULL))
        << GetLastError();
    EXPECT_EQ(data.EventHandle.Event, event);  // the caller's record is left as it was

    KSPROPERTY property{};
    property.Set = kDeviceSettingsSet;
    property.Id = 0;
    property.Flags = KSPROPERTY_TYPE_GET;
    ULONG urbSize = 0;
    ASSERT_TRUE(DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &property, sizeof property, &urbSize, sizeof urbSize,
                                &bytes, NULL));
    urbSize = urbSize == 2 ? 3 : 2;
    property.Flags = KSPROPERTY_TYPE_SET;
    ASSERT_TRUE(DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &property, sizeof property, &urbSize, sizeof urbSize,
                                &bytes, NULL))
        << GetLastError();
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);

    ASSERT_TRUE(DeviceIoControl(m_filter, IOCTL_KS_DISABLE_EVENT, &data, sizeof data, NULL, 0, &bytes, NULL));
    CloseHandle(event);
}

namespace {

class PendingIo : public umtest::MachineTest {
protected:
    void SetUp() override
    {
        umtest::FakeFilterScenario scenario;
        scenario.pins.push_back({});
        BootFake(scenario);
        m_filter = OpenFilter(FirstPath());
        ASSERT_NE(m_filter, INVALID_HANDLE_VALUE);
        memcpy(&m_request.Set, umtest::kScriptedPropertySet, sizeof(GUID));
        m_request.Id = umtest::kPendedProperty;
        m_request.Flags = KSPROPERTY_TYPE_GET;
        m_event = CreateEventA(NULL, TRUE, FALSE, NULL);
        m_overlapped.hEvent = m_event;
    }
    void TearDown() override
    {
        CloseHandle(m_event);
        if (m_filter != INVALID_HANDLE_VALUE) CloseHandle(m_filter);
        MachineTest::TearDown();
    }
    bool Send()
    {
        return DeviceIoControl(m_filter, IOCTL_KS_PROPERTY, &m_request, sizeof m_request, &m_value, sizeof m_value,
                               &m_bytes, &m_overlapped);
    }
    HANDLE m_filter = INVALID_HANDLE_VALUE;
    HANDLE m_event = NULL;
    KSPROPERTY m_request{};
    ULONG m_value = 0;
    DWORD m_bytes = 0;
    OVERLAPPED m_overlapped{};
};

}  // namespace

TEST_F(PendingIo, APendingRequestReportsIoPendingAndCompletesLater)
{
    EXPECT_FALSE(Send());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(m_filter, &m_overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(WaitForSingleObject(m_event, 0), DWORD(WAIT_TIMEOUT));

    umtest::CompletePendingRequests(0, 0xC0FFEE);
    EXPECT_EQ(WaitForSingleObject(m_event, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(m_filter, &m_overlapped, &transferred, TRUE));
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(m_value, 0xC0FFEEu);
}

TEST_F(PendingIo, CancelIoEndsAPendingRequestAsAborted)
{
    EXPECT_FALSE(Send());
    ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
    EXPECT_TRUE(CancelIo(m_filter));
    EXPECT_EQ(WaitForSingleObject(m_event, INFINITE), WAIT_OBJECT_0);
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(m_filter, &m_overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_OPERATION_ABORTED));
}

TEST_F(PendingIo, ClosingTheHandleCancelsWhatIsPending)
{
    EXPECT_FALSE(Send());
    EXPECT_TRUE(CloseHandle(m_filter));
    m_filter = INVALID_HANDLE_VALUE;
    EXPECT_EQ(WaitForSingleObject(m_event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(m_overlapped.Internal, ULONG_PTR(0xC0000120));
}

TEST_F(PendingIo, ASynchronousCallerWaitsForThePendingRequest)
{
    struct Call {
        HANDLE filter;
        KSPROPERTY* request;
        ULONG* value;
        BOOL result;
    } call{m_filter, &m_request, &m_value, FALSE};
    HANDLE thread = CreateThread(
        NULL, 0,
        [](LPVOID p) -> DWORD {
            auto* c = static_cast<Call*>(p);
            DWORD bytes = 0;
            c->result = DeviceIoControl(c->filter, IOCTL_KS_PROPERTY, c->request, sizeof *c->request, c->value,
                                        sizeof *c->value, &bytes, NULL);
            return bytes;
        },
        &call, 0, NULL);
    umtest::WaitForPendingRequests(1);
    umtest::CompletePendingRequests(0, 7);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD bytes = 0;
    GetExitCodeThread(thread, &bytes);
    EXPECT_TRUE(call.result);
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(m_value, 7u);
    CloseHandle(thread);
}
