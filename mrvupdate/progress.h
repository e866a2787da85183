// Progress: the download's status callback. It moves the download dialog's
// bar and carries the user's Cancel to the download: every operation answers
// with the status, so the download stops at the first callback after
// Cancel. Not reference counted: it lives as long as its download job.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>

class Progress : public IBindStatusCallback {
public:
    Progress() : m_status(S_OK), m_dialog(NULL) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The dialog whose bar shows the progress (NULL: none).
    void SetDialog(HWND dialog) { m_dialog.store(dialog); }
    // The user's Cancel: the download stops at its next callback.
    void Cancel() { m_status.store(E_ABORT); }
    HRESULT Status() const { return m_status.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD dwReserved, IBinding* pib) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* pnPriority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                                         LPCWSTR szStatusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                              STGMEDIUM* pstgmed) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* punk) override;

private:
    std::atomic<HRESULT> m_status;  // set by Cancel on the dialog's thread, read by the download's
    std::atomic<HWND> m_dialog;     // set by the dialog's thread before the download starts and when it ends
};
