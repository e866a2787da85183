// The class factory of the module's one COM class, and the table that says
// which classes the module serves.
#pragma once

#include "combase.h"

struct ClassTemplate {
    LPCWSTR name;
    const CLSID* clsid;
    // Creates the object; null when out of memory. *phr reports a failed
    // construction, after which the caller deletes the object.
    CUnknown* (*create)(IUnknown* pOuter, HRESULT* phr);
};

class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(const ClassTemplate* pTemplate);
    virtual ~ClassFactory() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    LONG m_cRef;  // apartment-threaded: changed without atomics
    const ClassTemplate* m_pTemplate;
};

// DllGetClassObject's work.
HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
