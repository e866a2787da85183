// The COM base object: a non-delegating IUnknown with a reference count and
// the outer unknown that the object's public interfaces forward to, so that
// a derived object can be aggregated.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>

struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown {
public:
    // The name is for debugging only and not kept.
    CUnknown(LPCSTR pszName, IUnknown* pOuter);
    virtual ~CUnknown();
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    IUnknown* GetOwner() const { return m_pOuter; }

    // COM objects alive in this module, for DllCanUnloadNow.
    static LONG LiveObjects();

protected:
    // Hands out pUnk (adding a reference) as the answer to a query.
    static HRESULT GetInterface(IUnknown* pUnk, void** ppv);

private:
    // The object's own IUnknown: a real one, whose calls are the
    // non-delegating ones. It is the owner when the object is not
    // aggregated, and what an aggregating object holds when it is.
    class NonDelegatingUnknown : public IUnknown {
    public:
        explicit NonDelegatingUnknown(CUnknown* pObject) : m_pObject(pObject) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
        {
            return m_pObject->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return m_pObject->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return m_pObject->NonDelegatingRelease(); }

    private:
        CUnknown* const m_pObject;
    };

    NonDelegatingUnknown m_nonDelegating;
    IUnknown* const m_pOuter;  // the aggregating object, or m_nonDelegating
    std::atomic<LONG> m_cRef;  // changed atomically, from any thread
};
