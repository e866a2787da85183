#include "classfactory.h"

#include "module.h"
#include "mrvusbasio.h"
#include "widetext.h"

#include <new>

namespace {

const ClassTemplate kTemplates[] = {
    {WIDE("MrvUsbAsio"), &CLSID_MrvUsbAsio, MrvUsbAsio::createInstance},
};

}  // namespace

ClassFactory::ClassFactory(const ClassTemplate* pTemplate) : m_cRef(0), m_pTemplate(pTemplate) {}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void** ppv)
try {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = NULL;
    return E_NOINTERFACE;
} catch (...) {
    return E_UNEXPECTED;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() { return ULONG(++m_cRef); }

ULONG STDMETHODCALLTYPE ClassFactory::Release()
{
    LONG count = --m_cRef;
    if (count == 0) delete this;
    return ULONG(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv)
try {
    if (!ppv) return E_POINTER;
    *ppv = NULL;
    // An aggregating object may only hold the inner object's own unknown.
    if (pOuter && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* pObject = m_pTemplate->create(pOuter, &hr);
    if (!pObject) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pObject;
        return hr;
    }
    pObject->NonDelegatingAddRef();
    hr = pObject->NonDelegatingQueryInterface(riid, ppv);
    pObject->NonDelegatingRelease();
    return hr;
} catch (...) {
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL fLock)
{
    lockServer(fLock != FALSE);
    return S_OK;
}

HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = NULL;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    for (const ClassTemplate& entry : kTemplates) {
        if (!IsEqualCLSID(rclsid, *entry.clsid)) continue;
        ClassFactory* pFactory = new (std::nothrow) ClassFactory(&entry);
        if (!pFactory) return E_OUTOFMEMORY;
        pFactory->AddRef();
        *ppv = pFactory;
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}
