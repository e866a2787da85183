// CKsIrpTarget: the synchronous request over an overlapped handle, the size
// query rules, the property helpers and the handle helpers.
#include "ksfilter.h"

#include <ksmedia.h>
#include "machinefixture.h"
#include "tracecapture.h"

#include "um/umverifier.h"

#include <cstring>

namespace {

GUID ScriptedSet()
{
    GUID set;
    memcpy(&set, umtest::kScriptedPropertySet, sizeof set);
    return set;
}

class IrpTarget : public umtest::MachineTest {
protected:
    void SetUp() override
    {
        umtest::FakeFilterScenario scenario;
        scenario.pins.push_back({});
        BootFake(scenario);
        HRESULT hr = E_FAIL;
        m_filter = std::make_unique<CKsFilter>(FirstPath().c_str(), &hr);
        ASSERT_EQ(m_filter->Instantiate(), S_OK);
    }
    void TearDown() override
    {
        m_filter.reset();
        MachineTest::TearDown();
    }
    std::unique_ptr<CKsFilter> m_filter;
};

// Runs a request that the scripted filter pends on a thread, completes it
// from here and hands back what the thread got.
struct PendedCall {
    CKsFilter* filter;
    KSPROPERTY request;
    ULONG value;
    ULONG bytes;
    HRESULT hr;
};

DWORD WINAPI SendPended(LPVOID parameter)
{
    auto* call = static_cast<PendedCall*>(parameter);
    call->hr = CKsIrpTarget::SyncIoctl(call->filter->GetHandle(), IOCTL_KS_PROPERTY, &call->request,
                                       sizeof call->request, &call->value, sizeof call->value, &call->bytes);
    return 0;
}

PendedCall RunPended(CKsFilter* filter, int32_t status)
{
    PendedCall call{filter, {}, 0, 0xFFFF, E_UNEXPECTED};
    call.request.Set = ScriptedSet();
    call.request.Id = umtest::kPendedProperty;
    call.request.Flags = KSPROPERTY_TYPE_GET;
    HANDLE thread = CreateThread(NULL, 0, SendPended, &call, 0, NULL);
    umtest::WaitForPendingRequests(1);
    umtest::CompletePendingRequests(status, 0x1234);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return call;
}

}  // namespace

class SyncIoctlOnInvalidHandle : public ::testing::TestWithParam<HANDLE> {};

TEST_P(SyncIoctlOnInvalidHandle, FailsWithoutSendingAnything)
{
    TraceCapture capture(6);
    SetLastError(12345);
    ULONG bytes = 77;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(GetParam(), IOCTL_KS_PROPERTY, NULL, 0, NULL, 0, &bytes), E_FAIL);
    // DeviceIoControl would have set the last error.
    EXPECT_EQ(GetLastError(), 12345u);
    EXPECT_TRUE(capture.Has("CKsIrpTarget::SyncIoctl Invalid Handle"));
    EXPECT_EQ(capture.All().front(), "CKsIrpTarget::SyncIoctl() Enter");
    EXPECT_EQ(capture.All().back(), "CKsIrpTarget::SyncIoctl Leave, returning 0x80004005");
}

INSTANTIATE_TEST_SUITE_P(NullAndInvalid, SyncIoctlOnInvalidHandle, ::testing::Values(HANDLE(NULL), INVALID_HANDLE_VALUE));

TEST_F(IrpTarget, APendedRequestThatSucceedsReportsItsByteCount)
{
    PendedCall call = RunPended(m_filter.get(), 0);
    EXPECT_EQ(call.hr, S_OK);
    EXPECT_EQ(call.bytes, 4u);
    EXPECT_EQ(call.value, 0x1234u);
}

TEST_F(IrpTarget, APendedRequestThatFailsIsAFailureWithNoBytes)
{
    PendedCall call = RunPended(m_filter.get(), int32_t(0xC0000001));
    EXPECT_EQ(call.hr, E_FAIL);
    EXPECT_EQ(call.bytes, 0u);
}

TEST_F(IrpTarget, ASizeQueryAnsweredMoreDataIsTheNeededSize)
{
    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = KSPROPERTY_PIN_DATARANGES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    ULONG bytes = 0;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(m_filter->GetHandle(), IOCTL_KS_PROPERTY, &request, sizeof request, NULL, 0, &bytes),
              S_OK);
    EXPECT_EQ(bytes, sizeof(KSMULTIPLE_ITEM) + sizeof(KSDATARANGE_AUDIO));
}

TEST_F(IrpTarget, TheSameAnswerToARequestWithABufferIsAFailure)
{
    KSP_PIN request{};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = KSPROPERTY_PIN_DATARANGES;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    ULONG small = 0;
    ULONG bytes = 99;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(m_filter->GetHandle(), IOCTL_KS_PROPERTY, &request, sizeof request, &small,
                                      sizeof small, &bytes),
              E_FAIL);
    EXPECT_EQ(bytes, 0u);
}

TEST_F(IrpTarget, MoreDataForAnotherControlCodeIsAFailure)
{
    ULONG bytes = 99;
    EXPECT_EQ(CKsIrpTarget::SyncIoctl(m_filter->GetHandle(), umtest::kSizeAnsweringControlCode, NULL, 0, NULL, 0, &bytes),
              E_FAIL);
    EXPECT_EQ(bytes, 0u);
}

TEST_F(IrpTarget, AnEmptyMultiItemAnswerAllocatesNothing)
{
    PKSMULTIPLE_ITEM item = reinterpret_cast<PKSMULTIPLE_ITEM>(0x1);
    TraceCapture capture(6);
    EXPECT_EQ(m_filter->GetPropertyMulti(ScriptedSet(), umtest::kEmptyProperty, &item), S_OK);
    EXPECT_EQ(item, reinterpret_cast<PKSMULTIPLE_ITEM>(0x1));
    EXPECT_EQ(capture.Count("CKsIrpTarget::SyncIoctl() Enter"), 1u);
}

TEST_F(IrpTarget, AMultiItemAnswerClaimingMoreThanItsBufferIsRefused)
{
    PKSMULTIPLE_ITEM item = NULL;
    EXPECT_EQ(m_filter->GetPropertyMulti(ScriptedSet(), umtest::kOversizedProperty, &item), E_FAIL);
    CKsIrpTarget::FreeMultipleItem(item);  // the buffer stays with the caller
}

TEST_F(IrpTarget, BasicSupportReportsTheAccessFlags)
{
    ULONG access = 0;
    EXPECT_EQ(m_filter->PropertyBasicSupport(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &access), S_OK);
    EXPECT_TRUE(access & KSPROPERTY_TYPE_GET);
    EXPECT_FALSE(access & KSPROPERTY_TYPE_SET);
}

TEST_F(IrpTarget, AFailedRequestLeavesTheHandleUsable)
{
    ULONG value = 0;
    EXPECT_TRUE(FAILED(m_filter->GetPropertySimple(ScriptedSet(), 99, &value, sizeof value)));
    ULONG count = 0;
    EXPECT_EQ(m_filter->GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &count, sizeof count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST(SafeCloseHandle, AnInvalidHandleIsLeftAloneAndReportsSuccess)
{
    umsim::ViolationCapture violations;
    HANDLE handle = INVALID_HANDLE_VALUE;
    SetLastError(4321);
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(handle));
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    handle = NULL;
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(handle));
    EXPECT_EQ(handle, nullptr);  // a null handle stays as it is
    EXPECT_EQ(GetLastError(), 4321u);
    EXPECT_EQ(violations.Count("handle"), 0u);
}

TEST(SafeCloseHandle, AValidHandleIsClosedAndMarkedInvalid)
{
    HANDLE handle = CreateEventA(NULL, FALSE, FALSE, NULL);
    size_t before = umsim::OpenHandleCount();
    EXPECT_TRUE(CKsIrpTarget::SafeCloseHandle(handle));
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(umsim::OpenHandleCount(), before - 1);
}
