#include "combase.h"

namespace {
std::atomic<LONG> g_cLiveObjects{0};
}

CUnknown::CUnknown(LPCSTR pszName, IUnknown* pOuter)
    // An object that is not aggregated is its own owner.
    : m_nonDelegating(this), m_pOuter(pOuter ? pOuter : &m_nonDelegating), m_cRef(0)
{
    UNREFERENCED_PARAMETER(pszName);
    ++g_cLiveObjects;
}

CUnknown::~CUnknown() { --g_cLiveObjects; }

LONG CUnknown::LiveObjects() { return g_cLiveObjects; }

HRESULT CUnknown::GetInterface(IUnknown* pUnk, void** ppv)
{
    *ppv = pUnk;
    pUnk->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
        return GetInterface(&m_nonDelegating, ppv);
    }
    *ppv = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef()
{
    LONG count = ++m_cRef;
    return count > 1 ? ULONG(count) : 1;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    LONG count = --m_cRef;
    if (count == 0) {
        // Releases made while the object is destroyed must not destroy it again.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return count > 1 ? ULONG(count) : 1;
}
