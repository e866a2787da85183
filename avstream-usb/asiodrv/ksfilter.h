// CKsFilter: a kernel-streaming filter opened by its device path, with its
// pins sorted into lists by data flow and communication, and its topology
// nodes. The all-pins list owns the pins; the other lists only point at them.
#pragma once

#include "ksirptarget.h"
#include "kslist.h"
#include "ksnode.h"

class CKsPin;

class CKsFilter : public CKsIrpTarget {
public:
    // A null path reports E_INVALIDARG; the object exists either way.
    CKsFilter(LPCSTR pszName, HRESULT* phr);
    ~CKsFilter() override;

    virtual HRESULT Instantiate();
    virtual HRESULT EnumerateNodes();
    virtual HRESULT EnumeratePins();
    virtual HRESULT DestroyLists();

    HRESULT ClassifyPins();
    HRESULT GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                 ULONG cbValue);
    // The answer is a new buffer the caller frees with FreeMultipleItem.
    HRESULT GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                PKSMULTIPLE_ITEM* ppKsMultipleItem);

    LPCSTR GetDevicePath() const { return m_szFilterName; }

    CKsList<CKsNode> m_listNodes;
    CKsList<CKsPin> m_listPins;
    CKsList<CKsPin> m_listRenderSinkPins;
    CKsList<CKsPin> m_listCaptureSourcePins;
    CKsList<CKsPin> m_listCaptureSinkPins;
    CKsList<CKsPin> m_listRenderSourcePins;
    CKsList<CKsPin> m_listNoCommPins;
    CHAR m_szFilterName[MAX_PATH];
    // Filled in by the filter's owner; the class never touches it.
    CHAR m_szFriendlyName[MAX_PATH];

protected:
    // The pin-type count (KSPROPERTY_PIN_CTYPES).
    HRESULT GetPinTypeCount(PULONG pcPins);
    void DeleteAllPins();

private:
    void InternalInit();
};
