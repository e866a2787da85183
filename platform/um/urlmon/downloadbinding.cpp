#include "um/urlmon/downloadbinding.h"

namespace umsim {

HRESULT DownloadBinding::QueryInterface(REFIID riid, void** ppvObject)
{
    if (!ppvObject) return E_POINTER;
    *ppvObject = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBinding) ? this : nullptr;
    if (!*ppvObject) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG DownloadBinding::Release()
{
    ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
}

HRESULT DownloadBinding::Abort()
{
    // A second Abort finds the download already stopping.
    return m_aborted.exchange(true) ? S_FALSE : S_OK;
}

HRESULT DownloadBinding::GetPriority(LONG* pnPriority)
{
    if (!pnPriority) return E_POINTER;
    *pnPriority = THREAD_PRIORITY_NORMAL;
    return S_OK;
}

}  // namespace umsim
