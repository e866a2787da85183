#include "progress.h"

#include <commctrl.h>

#include "resource.h"

HRESULT STDMETHODCALLTYPE Progress::QueryInterface(REFIID, void** ppvObject)
{
    if (ppvObject) *ppvObject = NULL;
    return E_FAIL;
}

// Without a count, both answer with the status word.
ULONG STDMETHODCALLTYPE Progress::AddRef() { return ULONG(Status()); }
ULONG STDMETHODCALLTYPE Progress::Release() { return ULONG(Status()); }

HRESULT STDMETHODCALLTYPE Progress::OnStartBinding(DWORD, IBinding*) { return Status(); }
HRESULT STDMETHODCALLTYPE Progress::GetPriority(LONG*) { return Status(); }
HRESULT STDMETHODCALLTYPE Progress::OnLowResource(DWORD) { return Status(); }

HRESULT STDMETHODCALLTYPE Progress::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG, LPCWSTR)
{
    // Sent, not posted: the dialog's thread moves the bar before the
    // download goes on.
    if (HWND dialog = m_dialog.load()) {
        HWND bar = GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS);
        SendMessageW(bar, PBM_SETRANGE32, 0, LPARAM(ulProgressMax));
        SendMessageW(bar, PBM_SETPOS, WPARAM(ulProgress), 0);
    }
    return Status();
}

HRESULT STDMETHODCALLTYPE Progress::OnStopBinding(HRESULT, LPCWSTR) { return Status(); }
HRESULT STDMETHODCALLTYPE Progress::GetBindInfo(DWORD*, BINDINFO*) { return Status(); }
HRESULT STDMETHODCALLTYPE Progress::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return Status(); }
HRESULT STDMETHODCALLTYPE Progress::OnObjectAvailable(REFIID, IUnknown*) { return Status(); }
