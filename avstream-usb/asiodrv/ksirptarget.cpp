#include "ksirptarget.h"

#include "kstrace.h"

#include <cstring>
#include <new>

CKsIrpTarget::CKsIrpTarget(HANDLE hHandle) : m_ulRefCount(1), m_hHandle(hHandle)
{
    KsTraceEnter("CKsIrpTarget::CKsIrpTarget()");
    KsTraceLeave("CKsIrpTarget::CKsIrpTarget()");
}

CKsIrpTarget::~CKsIrpTarget()
{
    KsTraceEnter("CKsIrpTarget::~CKsIrpTarget()");
    KsTraceLeave("CKsIrpTarget::~CKsIrpTarget()");
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE hHandle)
{
    KsTraceEnter("CKsIrpTarget::IsValidHandle()");
    BOOL fValid = hHandle != NULL && hHandle != INVALID_HANDLE_VALUE;
    KsTraceLeave("CKsIrpTarget::IsValidHandle()");
    return fValid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& hHandle)
{
    KsTraceEnter("CKsIrpTarget::SafeCloseHandle()");
    BOOL fResult = TRUE;
    if (IsValidHandle(hHandle)) {
        fResult = CloseHandle(hHandle);
        hHandle = INVALID_HANDLE_VALUE;
    }
    KsTraceLeave("CKsIrpTarget::SafeCloseHandle()");
    return fResult;
}

BOOL CKsIrpTarget::Close()
{
    KsTraceEnter("CKsIrpTarget::Close()");
    BOOL fResult = SafeCloseHandle(m_hHandle);
    KsTraceLeave("CKsIrpTarget::Close()");
    return fResult;
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE hHandle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer, PVOID pvOutBuffer,
                                ULONG cbOutBuffer, PULONG pulBytesReturned)
{
    KsTraceEnter("CKsIrpTarget::SyncIoctl()");
    if (!IsValidHandle(hHandle)) {
        KsTrace(1, "CKsIrpTarget::SyncIoctl Invalid Handle");
        return KsTraceLeave("CKsIrpTarget::SyncIoctl", E_FAIL);
    }
    ULONG ulLocalBytes = 0;
    PULONG pulBytes = pulBytesReturned ? pulBytesReturned : &ulLocalBytes;

    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!hEvent) {
        KsTrace(1, "CKsIrpTarget::SyncIoctl CreateEvent failed");
        return KsTraceLeave("CKsIrpTarget::SyncIoctl", E_OUTOFMEMORY);
    }
    // The low bit keeps the completion away from any I/O completion port.
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(hEvent) | 1);

    HRESULT hr = S_OK;
    DWORD dwBytes = 0;
    BOOL fDone = DeviceIoControl(hHandle, ulIoctl, pvInBuffer, cbInBuffer, pvOutBuffer, cbOutBuffer, &dwBytes,
                                 &overlapped);
    DWORD dwError = fDone ? ERROR_SUCCESS : GetLastError();
    if (dwError == ERROR_IO_PENDING) {
        DWORD dwWait = WaitForSingleObject(hEvent, INFINITE);
        if (dwWait != WAIT_OBJECT_0) {
            KsTrace(1, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x", (unsigned)dwWait);
            dwError = ERROR_GEN_FAILURE;
        } else {
            // A request that completed later reports its own outcome and
            // count, like one that completed at once.
            dwBytes = 0;
            fDone = GetOverlappedResult(hHandle, &overlapped, &dwBytes, FALSE);
            dwError = fDone ? ERROR_SUCCESS : GetLastError();
        }
    }
    if (dwError != ERROR_SUCCESS) {
        if ((dwError == ERROR_INSUFFICIENT_BUFFER || dwError == ERROR_MORE_DATA) && ulIoctl == IOCTL_KS_PROPERTY &&
            cbOutBuffer == 0) {
            // A size query: the needed size stays as the driver set it.
        } else {
            dwBytes = 0;
            hr = E_FAIL;
        }
    }
    *pulBytes = dwBytes;
    SafeCloseHandle(overlapped.hEvent);
    return KsTraceLeave("CKsIrpTarget::SyncIoctl", hr);
}

HRESULT CKsIrpTarget::PropertyBasicSupport(REFGUID guidPropertySet, ULONG nProperty, PULONG pulAccessFlags)
{
    KsTraceEnter("CKsIrpTarget::PropertyBasicSupport()");
    KSPROPERTY ksProperty;
    memset(&ksProperty, 0, sizeof ksProperty);
    ksProperty.Set = guidPropertySet;
    ksProperty.Id = nProperty;
    ksProperty.Flags = KSPROPERTY_TYPE_BASICSUPPORT;
    HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksProperty, sizeof ksProperty, pulAccessFlags,
                           sizeof(ULONG), NULL);
    return KsTraceLeave("CKsIrpTarget::PropertyBasicSupport", hr);
}

HRESULT CKsIrpTarget::SendPropertyWithExtra(REFGUID guidPropertySet, ULONG nProperty, ULONG ulFlags, PVOID pvValue,
                                            ULONG cbValue, PVOID pvExtra, ULONG cbExtra)
{
    ULONG cbRequest = sizeof(KSPROPERTY) + cbExtra;
    if (cbRequest < cbExtra) return E_INVALIDARG;  // the size wrapped
    BYTE* pbRequest = new (std::nothrow) BYTE[cbRequest];
    if (!pbRequest) return E_OUTOFMEMORY;
    KSPROPERTY ksProperty;
    memset(&ksProperty, 0, sizeof ksProperty);
    ksProperty.Set = guidPropertySet;
    ksProperty.Id = nProperty;
    ksProperty.Flags = ulFlags;
    memcpy(pbRequest, &ksProperty, sizeof ksProperty);
    if (pvExtra && cbExtra) {
        memcpy(pbRequest + sizeof ksProperty, pvExtra, cbExtra);
    } else if (cbExtra) {
        memset(pbRequest + sizeof ksProperty, 0, cbExtra);
    }
    HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, pbRequest, cbRequest, pvValue, cbValue, NULL);
    delete[] pbRequest;
    return hr;
}

HRESULT CKsIrpTarget::GetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue, ULONG cbValue,
                                        PVOID pvExtra, ULONG cbExtra)
{
    KsTraceEnter("CKsIrpTarget::GetPropertySimple()");
    HRESULT hr = SendPropertyWithExtra(guidPropertySet, nProperty, KSPROPERTY_TYPE_GET, pvValue, cbValue, pvExtra,
                                       cbExtra);
    return KsTraceLeave("CKsIrpTarget::GetPropertySimple", hr);
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue, ULONG cbValue,
                                        PVOID pvExtra, ULONG cbExtra)
{
    KsTraceEnter("CKsIrpTarget::SetPropertySimple()");
    // For a set the value travels in the output buffer, as kernel streaming wants.
    HRESULT hr = SendPropertyWithExtra(guidPropertySet, nProperty, KSPROPERTY_TYPE_SET, pvValue, cbValue, pvExtra,
                                       cbExtra);
    return KsTraceLeave("CKsIrpTarget::SetPropertySimple", hr);
}

PKSMULTIPLE_ITEM CKsIrpTarget::AllocateMultipleItem(ULONG cbSize)
{
    return reinterpret_cast<PKSMULTIPLE_ITEM>(new (std::nothrow) ULONGLONG[(size_t(cbSize) + 7) / 8]);
}

void CKsIrpTarget::FreeMultipleItem(PKSMULTIPLE_ITEM pItem) { delete[] reinterpret_cast<ULONGLONG*>(pItem); }

HRESULT CKsIrpTarget::QueryMultipleItem(PVOID pvRequest, ULONG cbRequest, PKSMULTIPLE_ITEM* ppKsMultipleItem)
{
    ULONG cbNeeded = 0;
    HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, NULL, 0, &cbNeeded);
    if (FAILED(hr) || cbNeeded == 0) return hr;
    *ppKsMultipleItem = AllocateMultipleItem(cbNeeded);
    if (!*ppKsMultipleItem) return E_OUTOFMEMORY;
    hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, *ppKsMultipleItem, cbNeeded, NULL);
    // Readers trust Size to bound Count's items, so an answer that claims
    // more than the buffer holds is refused.
    if (SUCCEEDED(hr) &&
        ((*ppKsMultipleItem)->Size < sizeof(KSMULTIPLE_ITEM) || (*ppKsMultipleItem)->Size > cbNeeded)) {
        hr = E_FAIL;
    }
    return hr;
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty, PKSMULTIPLE_ITEM* ppKsMultipleItem)
{
    KsTraceEnter("CKsIrpTarget::GetPropertyMulti()");
    KSPROPERTY ksProperty;
    memset(&ksProperty, 0, sizeof ksProperty);
    ksProperty.Set = guidPropertySet;
    ksProperty.Id = nProperty;
    ksProperty.Flags = KSPROPERTY_TYPE_GET;
    HRESULT hr = QueryMultipleItem(&ksProperty, sizeof ksProperty, ppKsMultipleItem);
    return KsTraceLeave("CKsIrpTarget::GetPropertyMulti", hr);
}
