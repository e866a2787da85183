// CKsPin: one pin type of a filter, described by the properties the filter
// reports for it, and once instantiated the owner of one pin instance
// through which data streams.
#pragma once

#include "ksirptarget.h"

class CKsFilter;

class CKsPin : public CKsIrpTarget {
public:
    // Reads the pin's properties; *phr is S_OK, or S_FALSE when some could
    // not be read (never a failure by itself).
    CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
    ~CKsPin() override;

    virtual HRESULT Instantiate(BOOL fLooped);
    virtual HRESULT SetState(KSSTATE ksState);

    HRESULT Init();
    HRESULT GetDataFlow(PULONG pulDataFlow);
    HRESULT GetCommunication(PULONG pulCommunication);
    // The caller owns the header, its data and the OVERLAPPED until the
    // request completes; S_OK also when it is pending.
    HRESULT WriteData(PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped);
    HRESULT ReadData(PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped);
    void CancelPendingIo();
    // Stops an instantiated pin, then closes its handle.
    void ClosePin();

    ULONG GetId() const { return m_nId; }
    KSSTATE GetState() const { return m_ksState; }
    ULONG GetPinType() const { return m_ulPinType; }

    static constexpr ULONG kPinTypePlain = 0;
    static constexpr ULONG kPinTypeRender = 1;
    static constexpr ULONG kPinTypeCapture = 2;

protected:
    PKSPIN_CONNECT m_pksPinCreate;  // KSPIN_CONNECT + data format, owned
    ULONG m_cbPinCreateSize;
    ULONG m_nId;
    CKsFilter* m_pFilter;

public:
    GUID m_guidCategory;
    ULONG m_cInterfaces;
    PKSIDENTIFIER m_pInterfaces;  // into m_pksInterfaces
    ULONG m_cMediums;
    PKSIDENTIFIER m_pMediums;     // into m_pksMediums
    ULONG m_cDataRanges;
    PKSDATARANGE m_pDataRanges;   // into m_pksDataRanges
    ULONG m_nDataFlow;
    ULONG m_nCommunication;
    KSPIN_CINSTANCES m_cInstances;
    KSPIN_CINSTANCES m_cGlobalInstances;
    PKSMULTIPLE_ITEM m_pksDataRanges;
    PKSMULTIPLE_ITEM m_pksMediums;
    PKSMULTIPLE_ITEM m_pksInterfaces;

protected:
    ULONG m_ulPinType;
    KSSTATE m_ksState;  // last state set successfully

public:
    CHAR m_szPinName[MAX_PATH];  // the wide-character name, as raw bytes

protected:
    ULONG m_fLooped;

private:
    // A multi-item pin property whose items hold at least cbItem bytes each;
    // count and items are set only when the read succeeds.
    HRESULT ReadMultiple(ULONG nProperty, ULONG cbItem, PKSMULTIPLE_ITEM* ppAnswer, PULONG pcItems, PVOID* ppItems);
    HRESULT StreamIo(ULONG ulIoctl, PKSSTREAM_HEADER pKsStreamHeader, LPOVERLAPPED pOverlapped);
};
