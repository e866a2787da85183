#include "ksfilter.h"

#include "kspin.h"
#include "kstrace.h"

#include <cstring>
#include <new>

namespace {

KSP_PIN PinPropertyRequest(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty)
{
    KSP_PIN ksPProp;
    memset(&ksPProp, 0, sizeof ksPProp);
    ksPProp.Property.Set = guidPropertySet;
    ksPProp.Property.Id = nProperty;
    ksPProp.Property.Flags = KSPROPERTY_TYPE_GET;
    ksPProp.PinId = nPinId;
    ksPProp.Reserved = 0;
    return ksPProp;
}

}  // namespace

CKsFilter::CKsFilter(LPCSTR pszName, HRESULT* phr) : CKsIrpTarget(INVALID_HANDLE_VALUE)
{
    KsTraceEnter("CKsFilter::CKsFilter()");
    HRESULT hr = S_OK;
    InternalInit();
    m_szFriendlyName[0] = '\0';
    if (!pszName) {
        KsTrace(1, "pszName cannot be NULL");
        hr = E_INVALIDARG;
    } else {
        strncpy(m_szFilterName, pszName, MAX_PATH - 1);
        m_szFilterName[MAX_PATH - 1] = '\0';
    }
    *phr = hr;
    KsTraceLeave("CKsFilter::CKsFilter", hr);
}

CKsFilter::~CKsFilter()
{
    KsTraceEnter("CKsFilter::~CKsFilter()");
    DestroyLists();
    SafeCloseHandle(m_hHandle);
    KsTraceLeave("CKsFilter::~CKsFilter()");
}

void CKsFilter::InternalInit()
{
    KsTraceEnter("CKsFilter::InternalInit()");
    m_szFilterName[0] = '\0';
    KsTraceLeave("CKsFilter::InternalInit()");
}

HRESULT CKsFilter::Instantiate()
{
    KsTraceEnter("CKsFilter::Instantiate()");
    HRESULT hr = S_OK;
    m_hHandle = CreateFileA(m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
    if (!IsValidHandle(m_hHandle)) {
        KsTrace(1, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x", m_szFilterName,
                (unsigned)GetLastError());
        m_hHandle = INVALID_HANDLE_VALUE;
        hr = E_FAIL;
    }
    return KsTraceLeave("CKsFilter::Instantiate", hr);
}

void CKsFilter::DeleteAllPins()
{
    m_listRenderSinkPins.RemoveAll();
    m_listCaptureSourcePins.RemoveAll();
    m_listCaptureSinkPins.RemoveAll();
    m_listRenderSourcePins.RemoveAll();
    m_listNoCommPins.RemoveAll();
    m_listPins.DeleteAll();
}

HRESULT CKsFilter::DestroyLists()
{
    KsTraceEnter("CKsFilter::DestroyLists()");
    m_listNodes.DeleteAll();
    DeleteAllPins();
    return KsTraceLeave("CKsFilter::DestroyLists", S_OK);
}

HRESULT CKsFilter::GetPinTypeCount(PULONG pcPins)
{
    *pcPins = 0;
    return GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, pcPins, sizeof(ULONG));
}

HRESULT CKsFilter::EnumeratePins()
{
    KsTraceEnter("CKsFilter::EnumeratePins()");
    HRESULT hr = S_OK;
    ULONG cPins = 0;
    if (SUCCEEDED(GetPinTypeCount(&cPins))) {
        for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
            HRESULT hrPin = S_OK;
            CKsPin* pPin = new (std::nothrow) CKsPin(this, nPinId, &hrPin);
            if (!pPin) {
                KsTrace(1, "Failed to create pin");
                hr = E_OUTOFMEMORY;
                continue;
            }
            if (FAILED(hrPin)) {
                KsTrace(1, "Failed to construct pin");
                delete pPin;
                continue;
            }
            if (!m_listPins.AddTail(pPin)) {
                KsTrace(1, "Failed to add pin to list");
                delete pPin;
            }
        }
    }
    // An out-of-memory pin above gives way to what classification says.
    hr = ClassifyPins();
    if (m_listRenderSinkPins.IsEmpty() && m_listRenderSourcePins.IsEmpty() && m_listCaptureSinkPins.IsEmpty() &&
        m_listCaptureSourcePins.IsEmpty() && m_listNoCommPins.IsEmpty()) {
        KsTrace(1, "Filter is not viable. It has no pins.");
        hr = E_FAIL;
    }
    return KsTraceLeave("CKsFilter::EnumeratePins", hr);
}

HRESULT CKsFilter::ClassifyPins()
{
    KsTraceEnter("CKsFilter::ClassifyPins()");
    HRESULT hr = S_OK;
    for (CKsListEntry<CKsPin>* pEntry = m_listPins.First(); pEntry && SUCCEEDED(hr); pEntry = pEntry->pNext) {
        CKsPin* pPin = pEntry->pData;
        ULONG ulCommunication = 0, ulDataFlow = 0;
        pPin->GetCommunication(&ulCommunication);
        pPin->GetDataFlow(&ulDataFlow);
        bool fIn = ulDataFlow == KSPIN_DATAFLOW_IN;
        switch (ulCommunication) {
        case KSPIN_COMMUNICATION_NONE:
            if (!m_listNoCommPins.AddTail(pPin)) hr = E_OUTOFMEMORY;
            break;
        case KSPIN_COMMUNICATION_SINK:
            if (!(fIn ? m_listRenderSinkPins : m_listCaptureSinkPins).AddTail(pPin)) hr = E_OUTOFMEMORY;
            break;
        case KSPIN_COMMUNICATION_SOURCE:
            if (!(fIn ? m_listRenderSourcePins : m_listCaptureSourcePins).AddTail(pPin)) hr = E_OUTOFMEMORY;
            break;
        case KSPIN_COMMUNICATION_BOTH:
            // Both entries are tried before the walk stops.
            if (!(fIn ? m_listRenderSinkPins : m_listCaptureSinkPins).AddTail(pPin)) hr = E_OUTOFMEMORY;
            if (!(fIn ? m_listRenderSourcePins : m_listCaptureSourcePins).AddTail(pPin)) hr = E_OUTOFMEMORY;
            break;
        default:
            KsTrace(5, "Pin communication type not recognized");
            break;
        }
    }
    return KsTraceLeave("CKsFilter::ClassifyPins", hr);
}

HRESULT CKsFilter::EnumerateNodes()
{
    KsTraceEnter("CKsFilter::EnumerateNodes()");
    m_listNodes.DeleteAll();
    PKSMULTIPLE_ITEM pItem = NULL;
    HRESULT hr = GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pItem);
    if (FAILED(hr)) {
        KsTrace(4, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
        FreeMultipleItem(pItem);
        return KsTraceLeave("CKsFilter::EnumerateNodes", hr);
    }
    ULONG cNodes = 0;
    if (pItem) {
        // Count is trusted only as far as Size holds that many GUIDs.
        cNodes = pItem->Count;
        if (cNodes > (pItem->Size - sizeof(KSMULTIPLE_ITEM)) / sizeof(GUID)) {
            cNodes = 0;
            hr = E_FAIL;
        }
        const GUID* pTypes = reinterpret_cast<const GUID*>(pItem + 1);
        for (ULONG i = 0; i < cNodes; ++i) {
            CKsNode* pNode = new (std::nothrow) CKsNode(i, pTypes[i]);
            if (!pNode) continue;
            if (!m_listNodes.AddTail(pNode)) {
                delete pNode;
                hr = E_OUTOFMEMORY;
            }
        }
    }
    if (m_listNodes.Count() != cNodes || FAILED(hr)) {
        m_listNodes.DeleteAll();
        hr = E_FAIL;
    }
    FreeMultipleItem(pItem);
    return KsTraceLeave("CKsFilter::EnumerateNodes", hr);
}

HRESULT CKsFilter::GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue)
{
    KsTraceEnter("CKsFilter::GetPinPropertySimple()");
    KSP_PIN ksPProp = PinPropertyRequest(nPinId, guidPropertySet, nProperty);
    HRESULT hr = SyncIoctl(m_hHandle, IOCTL_KS_PROPERTY, &ksPProp, sizeof ksPProp, pvValue, cbValue, NULL);
    return KsTraceLeave("CKsFilter::GetPinPropertySimple", hr);
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem)
{
    KsTraceEnter("CKsFilter::GetPinPropertyMulti()");
    KSP_PIN ksPProp = PinPropertyRequest(nPinId, guidPropertySet, nProperty);
    HRESULT hr = QueryMultipleItem(&ksPProp, sizeof ksPProp, ppKsMultipleItem);
    return KsTraceLeave("CKsFilter::GetPinPropertyMulti", hr);
}
