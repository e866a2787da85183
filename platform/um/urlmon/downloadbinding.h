// The IBinding a download hands to OnStartBinding: a caller may keep it
// (it is reference counted, and outlives the download while held) and
// call Abort, which stops the download at its next step as a callback's
// E_ABORT does.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>

namespace umsim {

class DownloadBinding final : public IBinding {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP Suspend() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP SetPriority(LONG) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG* pnPriority) override;
    STDMETHODIMP GetBindResult(CLSID*, DWORD*, LPOLESTR*, DWORD*) override { return E_NOTIMPL; }

    bool Aborted() const { return m_aborted; }

private:
    std::atomic<ULONG> m_references{1};
    std::atomic<bool> m_aborted{false};  // set by any thread, read by the download's
};

}  // namespace umsim
