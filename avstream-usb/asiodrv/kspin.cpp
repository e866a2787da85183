#include "kspin.h"

#include "ksfilter.h"
#include "kstrace.h"

#include <cstring>

namespace {

// ksuser.dll's KsCreatePin: a Win32 error code.
typedef DWORD(WINAPI* PFNKSCREATEPIN)(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                                      PHANDLE phConnection);

// Loaded on first use from the control thread and kept for the life of the
// process, shared by every pin.
HMODULE g_hKsUser = NULL;
PFNKSCREATEPIN g_pfnKsCreatePin = NULL;

HRESULT LoadKsCreatePin()
{
    if (g_pfnKsCreatePin) return S_OK;
    HMODULE hModule = LoadLibraryA("ksuser.dll");
    if (!hModule) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    auto pfn = reinterpret_cast<PFNKSCREATEPIN>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, "KsCreatePin")));
    if (!pfn) {
        FreeLibrary(hModule);
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    g_hKsUser = hModule;
    g_pfnKsCreatePin = pfn;
    return S_OK;
}

}  // namespace

CKsPin::CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsIrpTarget(INVALID_HANDLE_VALUE), m_pksPinCreate(NULL), m_cbPinCreateSize(0), m_nId(nId), m_pFilter(pFilter),
      m_guidCategory{}, m_cInterfaces(0), m_pInterfaces(NULL), m_cMediums(0), m_pMediums(NULL), m_cDataRanges(0),
      m_pDataRanges(NULL), m_nDataFlow(0), m_nCommunication(0), m_cInstances{}, m_cGlobalInstances{},
      m_pksDataRanges(NULL), m_pksMediums(NULL), m_pksInterfaces(NULL), m_ulPinType(kPinTypePlain),
      m_ksState(KSSTATE_STOP), m_fLooped(0)
{
    KsTraceEnter("CKsPin::CKsPin()");
    memset(m_szPinName, 0, sizeof m_szPinName);
    HRESULT hr = Init();
    *phr = hr;
    KsTraceLeave("CKsPin::CKsPin", hr);
}

CKsPin::~CKsPin()
{
    KsTraceEnter("CKsPin::~CKsPin()");
    ClosePin();
    delete[] reinterpret_cast<BYTE*>(m_pksPinCreate);
    FreeMultipleItem(m_pksDataRanges);
    FreeMultipleItem(m_pksMediums);
    FreeMultipleItem(m_pksInterfaces);
    KsTraceLeave("CKsPin::~CKsPin()");
}

HRESULT CKsPin::ReadMultiple(ULONG nProperty, ULONG cbItem, PKSMULTIPLE_ITEM* ppAnswer, PULONG pcItems, PVOID* ppItems)
{
    HRESULT hr = m_pFilter->GetPinPropertyMulti(m_nId, KSPROPSETID_Pin, nProperty, ppAnswer);
    if (SUCCEEDED(hr) && *ppAnswer) {
        // The answer's Size already proved to fit its buffer; Count must fit Size.
        ULONG cbItems = (*ppAnswer)->Size - sizeof(KSMULTIPLE_ITEM);
        if (cbItem && (*ppAnswer)->Count > cbItems / cbItem) return E_FAIL;
        *pcItems = (*ppAnswer)->Count;
        *ppItems = *ppAnswer + 1;
    }
    return hr;
}

HRESULT CKsPin::Init()
{
    KsTraceEnter("CKsPin::Init()");
    bool fAllRead = true;
    auto check = [&](HRESULT hr, const char* pszFormat) {
        if (FAILED(hr)) {
            KsTrace(3, pszFormat, (int)m_nId);
            fAllRead = false;
        }
    };
    check(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, &m_nCommunication,
                                          sizeof(ULONG)),
          "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d");
    check(ReadMultiple(KSPROPERTY_PIN_INTERFACES, sizeof(KSIDENTIFIER), &m_pksInterfaces, &m_cInterfaces,
                       reinterpret_cast<PVOID*>(&m_pInterfaces)),
          "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d");
    check(ReadMultiple(KSPROPERTY_PIN_MEDIUMS, sizeof(KSIDENTIFIER), &m_pksMediums, &m_cMediums,
                       reinterpret_cast<PVOID*>(&m_pMediums)),
          "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d");
    // Ranges vary in size; CKsAudPin walks them against the answer's Size.
    check(ReadMultiple(KSPROPERTY_PIN_DATARANGES, 0, &m_pksDataRanges, &m_cDataRanges,
                       reinterpret_cast<PVOID*>(&m_pDataRanges)),
          "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d");
    check(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, &m_nDataFlow,
                                          sizeof(ULONG)),
          "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d");
    check(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, &m_cInstances,
                                          sizeof(KSPIN_CINSTANCES)),
          "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d");
    check(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, &m_cGlobalInstances,
                                          sizeof(KSPIN_CINSTANCES)),
          "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d");
    check(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY, &m_guidCategory,
                                          sizeof(GUID)),
          "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d");
    check(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, m_szPinName,
                                          sizeof m_szPinName - 1),
          "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d");
    return KsTraceLeave("CKsPin::Init", fAllRead ? S_OK : S_FALSE);
}

HRESULT CKsPin::GetDataFlow(PULONG pulDataFlow)
{
    KsTraceEnter("CKsPin::GetDataFlow()");
    *pulDataFlow = m_nDataFlow;
    return KsTraceLeave("CKsPin::GetDataFlow", S_OK);
}

HRESULT CKsPin::GetCommunication(PULONG pulCommunication)
{
    KsTraceEnter("CKsPin::GetCommunication()");
    *pulCommunication = m_nCommunication;
    return KsTraceLeave("CKsPin::GetCommunication", S_OK);
}

HRESULT CKsPin::Instantiate(BOOL fLooped)
{
    KsTraceEnter("CKsPin::Instantiate()");
    if (!m_pksPinCreate) return KsTraceLeave("CKsPin::Instantiate", S_OK);
    // A second instance would orphan the first one's handle: stop and close
    // it before creating the new one.
    ClosePin();
    m_fLooped = fLooped ? 1 : 0;
    m_pksPinCreate->Interface.Id = fLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;
    HRESULT hr = LoadKsCreatePin();
    if (SUCCEEDED(hr)) {
        DWORD dwResult = g_pfnKsCreatePin(m_pFilter->GetHandle(), m_pksPinCreate, GENERIC_READ | GENERIC_WRITE,
                                          &m_hHandle);
        hr = HRESULT(dwResult);
        if (hr > 0) hr = HRESULT(0x80070000u | (dwResult & 0xFFFF));
    }
    if (hr != S_OK) {
        m_hHandle = INVALID_HANDLE_VALUE;
        KsTrace(1, "Failed to instantiate pin. hr=0x%08x", (unsigned)hr);
        if (!FAILED(hr)) hr = E_FAIL;
    }
    m_ksState = KSSTATE_STOP;  // a new instance starts stopped
    return KsTraceLeave("CKsPin::Instantiate", hr);
}

HRESULT CKsPin::SetState(KSSTATE ksState)
{
    KsTraceEnter("CKsPin::SetState()");
    HRESULT hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &ksState, sizeof ksState);
    if (SUCCEEDED(hr)) {
        m_ksState = ksState;
    } else {
        KsTrace(1, "Failed to Set Pin State");
    }
    return KsTraceLeave("CKsPin::SetState", hr);
}

HRESULT CKsPin::StreamIo(ULONG ulIoctl, PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped)
{
    DWORD dwBytes = 0;
    if (DeviceIoControl(m_hHandle, ulIoctl, NULL, 0, pKsStreamHeader, pKsStreamHeader->Size, &dwBytes, pOverlapped)) {
        return S_OK;
    }
    DWORD dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING) return S_OK;
    if (ulIoctl == IOCTL_KS_WRITE_STREAM) {
        KsTrace(1, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x", (unsigned)dwError);
    } else {
        KsTrace(1, "DeviceIoControl Failed!  Error=0x%08x", (unsigned)dwError);
    }
    return E_FAIL;
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped)
{
    KsTraceEnter("CKsPin::WriteData()");
    return KsTraceLeave("CKsPin::WriteData", StreamIo(IOCTL_KS_WRITE_STREAM, pKsStreamHeader, pOverlapped));
}

HRESULT CKsPin::ReadData(PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped)
{
    KsTraceEnter("CKsPin::ReadData()");
    return KsTraceLeave("CKsPin::ReadData", StreamIo(IOCTL_KS_READ_STREAM, pKsStreamHeader, pOverlapped));
}

void CKsPin::CancelPendingIo()
{
    KsTraceEnter("CKsPin::CancelPendingIo()");
    CancelIo(m_hHandle);
    KsTraceLeave("CKsPin::CancelPendingIo()");
}

void CKsPin::ClosePin()
{
    KsTraceEnter("CKsPin::ClosePin()");
    if (IsValidHandle(m_hHandle)) {
        SetState(KSSTATE_STOP);
        SafeCloseHandle(m_hHandle);
    }
    KsTraceLeave("CKsPin::ClosePin()");
}
