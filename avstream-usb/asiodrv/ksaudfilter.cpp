#include "ksaudfilter.h"

#include "kstrace.h"

#include <new>

CKsAudFilter::CKsAudFilter(LPCSTR pszName, HRESULT* phr) : CKsFilter(pszName, phr)
{
    KsTraceEnter("CKsAudFilter::CKsAudFilter()");
    KsTraceLeave("CKsAudFilter::CKsAudFilter", *phr);
}

CKsAudFilter::~CKsAudFilter()
{
    KsTraceEnter("CKsAudFilter::~CKsAudFilter()");
    KsTraceLeave("CKsAudFilter::~CKsAudFilter()");
}

HRESULT CKsAudFilter::EnumeratePins()
{
    KsTraceEnter("CKsAudFilter::EnumeratePins()");
    ULONG cPins = 0;
    if (FAILED(GetPinTypeCount(&cPins))) {
        KsTrace(1, "Failed to retrieve count of pins in audio filter");
        cPins = 0;
    }
    for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
        ULONG ulCommunication = 0, ulDataFlow = 0;
        bool fGood = true;
        if (FAILED(GetPinPropertySimple(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, &ulCommunication,
                                        sizeof ulCommunication))) {
            KsTrace(1, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION");
            fGood = false;
        } else if (ulCommunication != KSPIN_COMMUNICATION_SINK && ulCommunication != KSPIN_COMMUNICATION_SOURCE &&
                   ulCommunication != KSPIN_COMMUNICATION_BOTH) {
            KsTrace(1, "Pin communication value doesn't make sense");
            fGood = false;
        }
        if (fGood && FAILED(GetPinPropertySimple(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, &ulDataFlow,
                                                 sizeof ulDataFlow))) {
            KsTrace(1, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW");
            fGood = false;
        }
        if (!fGood) continue;

        HRESULT hrPin = S_OK;
        CKsAudPin* pPin;
        if (ulCommunication == KSPIN_COMMUNICATION_SINK && ulDataFlow == KSPIN_DATAFLOW_IN) {
            pPin = new (std::nothrow) CKsAudRenPin(this, nPinId, &hrPin);
        } else if (ulCommunication == KSPIN_COMMUNICATION_SINK && ulDataFlow == KSPIN_DATAFLOW_OUT) {
            pPin = new (std::nothrow) CKsAudCapPin(this, nPinId, &hrPin);
        } else {
            pPin = new (std::nothrow) CKsAudPin(this, nPinId, &hrPin);
        }
        bool fOutOfMemory = false;
        if (!pPin) {
            KsTrace(1, "Failed to create audio pin");
            fOutOfMemory = true;
        } else if (FAILED(hrPin)) {
            // MIDI pins and any pin without audio ranges end here.
            delete pPin;
            continue;
        } else if (!m_listPins.AddTail(pPin)) {
            delete pPin;
            KsTrace(1, "Unable to allocate list entry to save pin in");
            fOutOfMemory = true;
        }
        if (fOutOfMemory) {
            KsTrace(1, "Ran out of memory enumerating pins - deleting all pins");
            DeleteAllPins();
            return KsTraceLeave("CKsAudFilter::EnumeratePins", E_OUTOFMEMORY);
        }
    }
    ClassifyPins();
    HRESULT hr = S_OK;
    if (m_listRenderSinkPins.IsEmpty() && m_listCaptureSourcePins.IsEmpty() && m_listCaptureSinkPins.IsEmpty() &&
        m_listRenderSourcePins.IsEmpty()) {
        KsTrace(1, "No valid pins found on the filter");
        hr = E_FAIL;
    }
    return KsTraceLeave("CKsAudFilter::EnumeratePins", hr);
}

CKsAudPin* CKsAudFilter::FindViablePin(CKsList<CKsPin>& list, const WAVEFORMATEX* pwfx)
{
    // Only audio pins are ever listed by this filter.
    for (CKsListEntry<CKsPin>* pEntry = list.First(); pEntry; pEntry = pEntry->pNext) {
        auto* pPin = static_cast<CKsAudPin*>(pEntry->pData);
        if (pPin->IsFormatSupported(pwfx)) return pPin;
    }
    return NULL;
}

CKsAudPin* CKsAudFilter::FindViableRenPin(const WAVEFORMATEX* pwfx)
{
    KsTraceEnter("CKsAudFilter::FindViableRenPin()");
    CKsAudPin* pPin = FindViablePin(m_listRenderSinkPins, pwfx);
    KsTraceLeave("CKsAudFilter::FindViableRenPin()");
    return pPin;
}

CKsAudPin* CKsAudFilter::FindViableCapPin(const WAVEFORMATEX* pwfx)
{
    KsTraceEnter("CKsAudFilter::FindViableCapPin()");
    CKsAudPin* pPin = FindViablePin(m_listCaptureSinkPins, pwfx);
    KsTraceLeave("CKsAudFilter::FindViableCapPin()");
    return pPin;
}

BOOL CKsAudFilter::CanCreateRenderPin(const WAVEFORMATEX* pwfx)
{
    KsTraceEnter("CKsAudFilter::CanCreateRenderPin()");
    BOOL fCan = FindViableRenPin(pwfx) != NULL;
    if (!fCan) KsTrace(4, "Could not find a Render pin that supports the given wave format");
    KsTraceLeave("CKsAudFilter::CanCreateRenderPin()");
    return fCan;
}

CKsAudPin* CKsAudFilter::CreateRenderPin(const WAVEFORMATEX* pwfx, BOOL fLooped)
{
    KsTraceEnter("CKsAudFilter::CreateRenderPin()");
    CKsAudPin* pPin = FindViableRenPin(pwfx);
    if (!pPin) {
        KsTrace(4, "Could not find a Render pin that supports the given wave format");
    } else if (FAILED(pPin->SetFormat(pwfx))) {
        KsTrace(1, "Failed to set Render Pin format - the pin lied about its supported formats");
        pPin = NULL;
    } else if (FAILED(pPin->Instantiate(fLooped))) {
        KsTrace(1, "Failed to instantiate Render Pin");
        pPin = NULL;
    } else {
        KsTrace(5, "Successfully instantiated Render Pin.  Handle = 0x%08x",
                (unsigned)reinterpret_cast<ULONG_PTR>(pPin->GetHandle()));
    }
    KsTraceLeave("CKsAudFilter::CreateRenderPin()");
    return pPin;
}

CKsAudPin* CKsAudFilter::CreateCapturePin(const WAVEFORMATEX* pwfx, BOOL fLooped)
{
    KsTraceEnter("CKsAudFilter::CreateCapturePin()");
    CKsAudPin* pPin = FindViableCapPin(pwfx);
    if (!pPin) {
        KsTrace(1, "Could not find a Capture pin that supports the given wave format");
    } else if (FAILED(pPin->SetFormat(pwfx))) {
        KsTrace(1, "Failed to set Capture Pin format");
        pPin = NULL;
    } else if (FAILED(pPin->Instantiate(fLooped))) {
        KsTrace(1, "Failed to instantiate Capture Pin");
        pPin = NULL;
    } else {
        KsTrace(5, "Successfully instantiated Capture Pin.  Handle = 0x%08x",
                (unsigned)reinterpret_cast<ULONG_PTR>(pPin->GetHandle()));
    }
    KsTraceLeave("CKsAudFilter::CreateCapturePin()");
    return pPin;
}
