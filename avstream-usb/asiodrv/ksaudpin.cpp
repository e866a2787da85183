#include "ksaudpin.h"

#include "ksaudfilter.h"
#include "kstrace.h"

#include <cstring>
#include <new>

namespace {

// Where the wave format starts in the connection request.
constexpr ULONG kWaveFormatOffset = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);

// Bytes of the format a request carries: a PCM format is always the bare
// record, whatever cbSize says.
ULONG FormatLength(const WAVEFORMATEX* pwfx)
{
    return pwfx->wFormatTag == WAVE_FORMAT_PCM ? sizeof(WAVEFORMATEX) : sizeof(WAVEFORMATEX) + pwfx->cbSize;
}

// Wave-format subtypes are {tag-0000-0010-8000-00AA00389B71}.
bool IsWaveFormatSubtype(const GUID& guid)
{
    return memcmp(reinterpret_cast<const BYTE*>(&guid) + 2, reinterpret_cast<const BYTE*>(&KSDATAFORMAT_SUBTYPE_PCM) + 2,
                  sizeof(GUID) - 2) == 0;
}

bool IsNullGuid(const GUID& guid) { return guid == GUID{}; }

bool FindStandard(const KSIDENTIFIER* pItems, ULONG cItems, const GUID& guidSet)
{
    for (ULONG i = 0; pItems && i < cItems; ++i) {
        if (pItems[i].Set == guidSet && pItems[i].Id == 0) return true;
    }
    return false;
}

}  // namespace

CKsAudPin::CKsAudPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsPin(pFilter, nId, phr), m_pAudFilter(pFilter), m_pWaveFormatEx(NULL), m_pksDataFormatWfx(NULL)
{
    KsTraceEnter("CKsAudPin::CKsAudPin()");
    HRESULT hr = *phr;
    if (SUCCEEDED(hr)) {
        ULONG cbCreate = kWaveFormatOffset + sizeof(WAVEFORMATEX);
        BYTE* pbCreate = new (std::nothrow) BYTE[cbCreate];
        if (!pbCreate) {
            KsTrace(1, "Failed to allocate m_pksPinCreate");
            hr = E_OUTOFMEMORY;
        } else {
            memset(pbCreate, 0, cbCreate);
            m_pksPinCreate = reinterpret_cast<PKSPIN_CONNECT>(pbCreate);
            m_cbPinCreateSize = cbCreate;
            m_pksPinCreate->Interface.Set = KSINTERFACESETID_Standard;
            m_pksPinCreate->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
            m_pksPinCreate->Interface.Flags = 0;
            m_pksPinCreate->Medium.Set = KSMEDIUMSETID_Standard;
            m_pksPinCreate->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
            m_pksPinCreate->Medium.Flags = 0;
            m_pksPinCreate->PinId = nId;
            m_pksPinCreate->PinToHandle = NULL;
            m_pksPinCreate->Priority.PriorityClass = KSPRIORITY_NORMAL;
            m_pksPinCreate->Priority.PrioritySubClass = 1;
            m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(pbCreate + sizeof(KSPIN_CONNECT));
            KSDATAFORMAT& format = m_pksDataFormatWfx->DataFormat;
            format.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
            format.Flags = 0;
            format.Reserved = 0;
            format.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
            format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
            format.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
            hr = Init();
        }
    }
    *phr = hr;
    KsTraceLeave("CKsAudPin::CKsAudPin", hr);
}

CKsAudPin::~CKsAudPin()
{
    KsTraceEnter("CKsAudPin::~CKsAudPin()");
    m_listDataRange.DeleteAll();
    delete[] reinterpret_cast<BYTE*>(m_pWaveFormatEx);
    KsTraceLeave("CKsAudPin::~CKsAudPin()");
}

HRESULT CKsAudPin::Init()
{
    KsTraceEnter("CKsAudPin::Init()");
    if (!FindStandard(m_pInterfaces, m_cInterfaces, KSINTERFACESETID_Standard)) {
        KsTrace(1, "No standard streaming interfaces on the pin");
        return KsTraceLeave("CKsAudPin::Init", E_FAIL);
    }
    if (!FindStandard(m_pMediums, m_cMediums, KSMEDIUMSETID_Standard)) {
        KsTrace(1, "No standard streaming mediums on the pin");
        return KsTraceLeave("CKsAudPin::Init", E_FAIL);
    }
    if (!m_pDataRanges || m_cDataRanges == 0) {
        KsTrace(1, "No audio dataranges on the pin");
        return KsTraceLeave("CKsAudPin::Init", E_FAIL);
    }
    HRESULT hr = S_OK;
    bool fFormatSeen = false;
    // Every range must lie inside the answer; a FormatSize that would leave
    // it (or not advance) ends the walk.
    const BYTE* pbRange = reinterpret_cast<const BYTE*>(m_pDataRanges);
    const BYTE* pbEnd = reinterpret_cast<const BYTE*>(m_pksDataRanges) + m_pksDataRanges->Size;
    for (ULONG i = 0; i < m_cDataRanges; ++i) {
        if (size_t(pbEnd - pbRange) < sizeof(KSDATARANGE)) break;
        KSDATARANGE range;
        memcpy(&range, pbRange, sizeof range);
        if (range.FormatSize < sizeof(KSDATARANGE) || range.FormatSize > size_t(pbEnd - pbRange)) break;
        const BYTE* pbThis = pbRange;
        pbRange += range.FormatSize;
        if (!fFormatSeen) {
            if (!IsWaveFormatSubtype(range.SubFormat) && !IsNullGuid(range.SubFormat)) continue;
            fFormatSeen = true;
        }
        if (range.FormatSize != sizeof(KSDATARANGE_AUDIO) || !(range.MajorFormat == KSDATAFORMAT_TYPE_AUDIO)) continue;
        auto* pCopy = new (std::nothrow) KSDATARANGE_AUDIO;
        if (!pCopy) {
            KsTrace(1, "Unable to allocate memory to save datarange in");
            hr = E_OUTOFMEMORY;
            continue;
        }
        memcpy(pCopy, pbThis, sizeof *pCopy);
        if (!m_listDataRange.AddTail(pCopy)) {
            delete pCopy;
            KsTrace(1, "Unable to allocate list entry to save datarange in");
            hr = E_OUTOFMEMORY;
        }
    }
    if (!fFormatSeen) {
        KsTrace(1, "No audio dataranges on the pin");
        hr = E_FAIL;
    }
    return KsTraceLeave("CKsAudPin::Init", hr);
}

BOOL CKsAudPin::IsFormatSupported(const WAVEFORMATEX* pwfx)
{
    KsTraceEnter("CKsAudPin::IsFormatSupported()");
    if (!pwfx) {
        KsTraceLeave("CKsAudPin::IsFormatSupported()");
        return FALSE;
    }
    // An extensible tag without room for the extension names no subtype.
    if (pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
        pwfx->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) {
        KsTraceLeave("CKsAudPin::IsFormatSupported()");
        return FALSE;
    }
    GUID guidSubtype = KSDATAFORMAT_SUBTYPE_PCM;
    if (pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        guidSubtype = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pwfx)->SubFormat;
    } else {
        guidSubtype.Data1 = pwfx->wFormatTag;
    }
    BOOL fSupported = FALSE;
    for (CKsListEntry<KSDATARANGE_AUDIO>* pEntry = m_listDataRange.First(); pEntry && !fSupported;
         pEntry = pEntry->pNext) {
        const KSDATARANGE_AUDIO& range = *pEntry->pData;
        fSupported = (IsNullGuid(range.DataRange.MajorFormat) || range.DataRange.MajorFormat == KSDATAFORMAT_TYPE_AUDIO) &&
                     (IsNullGuid(range.DataRange.SubFormat) || range.DataRange.SubFormat == guidSubtype) &&
                     (IsNullGuid(range.DataRange.Specifier) ||
                      range.DataRange.Specifier == KSDATAFORMAT_SPECIFIER_WAVEFORMATEX) &&
                     range.MaximumChannels >= pwfx->nChannels &&
                     range.MinimumBitsPerSample <= pwfx->wBitsPerSample &&
                     pwfx->wBitsPerSample <= range.MaximumBitsPerSample &&
                     range.MinimumSampleFrequency <= pwfx->nSamplesPerSec &&
                     pwfx->nSamplesPerSec <= range.MaximumSampleFrequency;
    }
    KsTraceLeave("CKsAudPin::IsFormatSupported()");
    return fSupported;
}

HRESULT CKsAudPin::SetFormat(const WAVEFORMATEX* pwfx)
{
    KsTraceEnter("CKsAudPin::SetFormat()");
    if (!pwfx || !m_pksDataFormatWfx) {
        KsTrace(1, "pwfx or m_pksDataFormatWfx are NULL");
        return KsTraceLeave("CKsAudPin::SetFormat", E_FAIL);
    }
    ULONG cbFormat = FormatLength(pwfx);
    ULONG cbCreate = kWaveFormatOffset + cbFormat;
    if (m_cbPinCreateSize != cbCreate) {
        BYTE* pbCreate = new (std::nothrow) BYTE[cbCreate];
        if (!pbCreate) {
            KsTrace(1, "Unable to allocate KSPIN_CONNECT structure");
            return KsTraceLeave("CKsAudPin::SetFormat", E_OUTOFMEMORY);
        }
        memset(pbCreate, 0, cbCreate);
        memcpy(pbCreate, m_pksPinCreate, m_cbPinCreateSize < cbCreate ? m_cbPinCreateSize : cbCreate);
        delete[] reinterpret_cast<BYTE*>(m_pksPinCreate);
        m_pksPinCreate = reinterpret_cast<PKSPIN_CONNECT>(pbCreate);
        m_cbPinCreateSize = cbCreate;
        m_pksDataFormatWfx = reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(pbCreate + sizeof(KSPIN_CONNECT));
        m_pksDataFormatWfx->DataFormat.FormatSize = sizeof(KSDATAFORMAT) + cbFormat;
    }
    memcpy(reinterpret_cast<BYTE*>(m_pksPinCreate) + kWaveFormatOffset, pwfx, cbFormat);
    m_pksDataFormatWfx->DataFormat.SampleSize = USHORT((ULONG(pwfx->nChannels) * pwfx->wBitsPerSample) / 8);

    delete[] reinterpret_cast<BYTE*>(m_pWaveFormatEx);
    m_pWaveFormatEx = NULL;
    if (BYTE* pbCopy = new (std::nothrow) BYTE[cbFormat]) {
        memcpy(pbCopy, pwfx, cbFormat);
        m_pWaveFormatEx = reinterpret_cast<WAVEFORMATEX*>(pbCopy);
        // The copy holds only what the request carried.
        if (pwfx->wFormatTag == WAVE_FORMAT_PCM) m_pWaveFormatEx->cbSize = 0;
    }
    return KsTraceLeave("CKsAudPin::SetFormat", S_OK);
}

CKsAudRenPin::CKsAudRenPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr) : CKsAudPin(pFilter, nId, phr)
{
    KsTraceEnter("CKsAudRenPin::CKsAudRenPin()");
    m_ulPinType = kPinTypeRender;
    KsTraceLeave("CKsAudRenPin::CKsAudRenPin", *phr);
}

CKsAudRenPin::~CKsAudRenPin()
{
    KsTraceEnter("CKsAudRenPin::~CKsAudRenPin()");
    KsTraceLeave("CKsAudRenPin::~CKsAudRenPin()");
}

CKsAudCapPin::CKsAudCapPin(CKsAudFilter* pFilter, ULONG nId, HRESULT* phr) : CKsAudPin(pFilter, nId, phr)
{
    KsTraceEnter("CKsAudCapPin::CKsAudCapPin()");
    m_ulPinType = kPinTypeCapture;
    KsTraceLeave("CKsAudCapPin::CKsAudCapPin", *phr);
}

CKsAudCapPin::~CKsAudCapPin()
{
    KsTraceEnter("CKsAudCapPin::~CKsAudCapPin()");
    KsTraceLeave("CKsAudCapPin::~CKsAudCapPin()");
}
