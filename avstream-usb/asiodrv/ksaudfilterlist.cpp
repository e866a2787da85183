#include "ksaudfilterlist.h"

#include "devicesettingsids.h"

#include <ksmedia.h>

#include <cstring>
#include <new>

CKsAudFilterList::CKsAudFilterList()
    : CKsDeviceList(KSCATEGORY_AUDIO),
      m_apFilters(),
      m_cFilters(0),
      m_apFilterRecords(),
      m_cFilterRecords(0),
      m_pguidViabilitySet(&KSPROPSETID_DeviceSettings),
      m_nViabilityProperty(KSPROPERTY_DEVICESETTINGS_URBSIZE)
{
}

CKsAudFilterList::~CKsAudFilterList()
{
    for (ULONGLONG i = m_cFilters; i-- > 0;) {
        if (m_apFilters[i]) ReleaseFilter(m_apFilters[i]);
    }
}

void CKsAudFilterList::ReleaseFilter(CKsAudFilter* pFilter)
{
    if (pFilter->m_ulRefCount-- <= 1) delete pFilter;
}

BOOL CKsAudFilterList::Accept(PDEVICE_RECORD pRecord)
{
    HRESULT hr = S_OK;
    CKsAudFilter* pFilter = new (std::nothrow) CKsAudFilter(pRecord->szDevicePath, &hr);
    if (!pFilter) return FALSE;
    if (FAILED(hr)) {
        delete pFilter;
        return FALSE;
    }
    strncpy(pFilter->m_szFriendlyName, pRecord->szFriendlyName, sizeof pFilter->m_szFriendlyName - 1);
    pFilter->m_szFriendlyName[sizeof pFilter->m_szFriendlyName - 1] = '\0';
    if (FAILED(pFilter->Instantiate()) || FAILED(pFilter->EnumeratePins()) || !IsViable(pFilter) ||
        m_cFilters >= kMaxFilters) {
        delete pFilter;
        return FALSE;
    }
    m_apFilters[m_cFilters++] = pFilter;
    m_apFilterRecords[m_cFilterRecords++] = pRecord;
    return TRUE;
}

void CKsAudFilterList::Removed(PDEVICE_RECORD pRecord)
{
    for (ULONGLONG i = 0; i < m_cFilters; ++i) {
        if (m_apFilterRecords[i] != pRecord || !m_apFilters[i]) continue;
        m_apFilters[i]->Close();
        ReleaseFilter(m_apFilters[i]);
        m_apFilters[i] = NULL;
        m_apFilterRecords[i] = NULL;
    }
}

BOOL CKsAudFilterList::IsViable(CKsAudFilter* pFilter)
{
    ULONG ulAccess = 0;
    return pFilter->PropertyBasicSupport(*m_pguidViabilitySet, m_nViabilityProperty, &ulAccess) == S_OK;
}
