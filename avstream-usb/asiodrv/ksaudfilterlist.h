// CKsAudFilterList: the audio filters of the system that belong to the
// kernel driver, told from every other audio filter by their answer to the
// driver's private settings property. The list owns its filters.
#pragma once

#include "ksaudfilter.h"
#include "ksdevicelist.h"

class CKsAudFilterList : public CKsDeviceList {
public:
    static constexpr ULONG kMaxFilters = 32;

    CKsAudFilterList();
    BOOL Accept(PDEVICE_RECORD pRecord) override;
    void Removed(PDEVICE_RECORD pRecord) override;
    ~CKsAudFilterList() override;
    // Whether the filter is one of the kernel driver's.
    virtual BOOL IsViable(CKsAudFilter* pFilter);

    ULONG GetFilterCount() const { return ULONG(m_cFilters); }
    CKsAudFilter* GetFilter(ULONG i) const { return i < m_cFilters ? m_apFilters[i] : NULL; }

private:
    static void ReleaseFilter(CKsAudFilter* pFilter);

    // Written by the host's thread only (init); entries cleared by Removed.
    CKsAudFilter* m_apFilters[kMaxFilters];
    ULONGLONG m_cFilters;
    PDEVICE_RECORD m_apFilterRecords[kMaxFilters];  // the record each filter was made from
    ULONGLONG m_cFilterRecords;
    const GUID* m_pguidViabilitySet;
    ULONG m_nViabilityProperty;
};
