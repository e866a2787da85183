#include "updatedownload.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <urlmon.h>

#include <atomic>
#include <new>
#include <string.h>

#include "downloadfolder.h"
#include "progress.h"
#include "resource.h"
#include "updateanswer.h"
#include "updatemodule.h"

namespace {

// What the worker needs. Shared by the two threads: the caller may leave
// its loop early (WM_QUIT) while the worker still downloads, so the last of
// the two to let go deletes it.
struct DownloadJob {
    char url[kAnswerBufferSize];  // written before the worker starts
    char target[MAX_PATH];        // written before the worker starts
    DWORD callerThread;           // written before the worker starts
    HMODULE library;              // the worker's hold on this library; written before it starts
    Progress progress;
    std::atomic<int> result{-1};  // written once, by the worker
    std::atomic<LONG> holders{2};

    void Release()
    {
        if (--holders == 0) delete this;
    }
};

INT_PTR CALLBACK DownloadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    UNREFERENCED_PARAMETER(lParam);
    // Cancel, Esc and the close box all come as IDCANCEL. The dialog stays
    // open: the download ends at its next callback, and that ends it.
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        if (auto* progress = reinterpret_cast<Progress*>(GetWindowLongPtrW(dialog, GWLP_USERDATA))) {
            progress->Cancel();
        }
    }
    return FALSE;
}

DWORD WINAPI DownloadWorker(LPVOID parameter)
{
    auto* job = static_cast<DownloadJob*>(parameter);
    int result = 1;
    if (URLDownloadToFileA(NULL, job->url, job->target, 0, &job->progress) == S_OK) {
        HINSTANCE started = ShellExecuteA(NULL, "open", job->target, NULL, NULL, SW_SHOWNORMAL);
        result = reinterpret_cast<INT_PTR>(started) > 32 ? 0 : 1;
    }
    job->result.store(result);
    // The caller's loop looks at the result after each message; without
    // one of its own it would wait for whatever came next.
    PostThreadMessageW(job->callerThread, WM_NULL, 0, 0);
    HMODULE library = job->library;
    job->Release();
    // The caller may unload the library as soon as it has the result; the
    // worker lets go of it only once none of its code runs any more.
    if (library) FreeLibraryAndExitThread(library, 0);
    return 0;
}

// A hold on this library for the worker, NULL when none can be taken.
HMODULE HoldLibrary()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(g_updateModule, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? LoadLibraryA(path) : NULL;
}

void CentreOnScreen(HWND window)
{
    RECT rect;
    if (!GetWindowRect(window, &rect)) return;
    int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(window, NULL, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0, SWP_NOSIZE);
}

// Serves the thread's messages until the worker stores its result, or until
// WM_QUIT, which is posted again for the caller's own loop.
void WaitForDownload(const DownloadJob& job)
{
    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, NULL, 0, 0);
        if (got == 0) {
            PostQuitMessage(int(message.wParam));
            return;
        }
        if (job.result.load() != -1) return;
        if (got == -1) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int DownloadAndStartInstaller(void* parentWindow, const char* url)
{
    char folder[MAX_PATH];
    if (!MakeDownloadFolder(folder)) return -1;

    auto* job = new (std::nothrow) DownloadJob;
    if (!job) return 1;
    // A URL longer than the answer cannot come from it; a name too long for
    // a path fails the download, as the download itself would.
    if (strlen(url) >= sizeof job->url || !DownloadTargetPath(folder, url, job->target)) {
        delete job;
        return 1;
    }
    strcpy(job->url, url);
    job->callerThread = GetCurrentThreadId();

    InitCommonControls();
    HWND dialog = CreateDialogParamW(g_updateModule, MAKEINTRESOURCEW(IDD_DOWNLOAD), NULL, DownloadDialogProc, 0);
    if (!dialog) {
        delete job;
        return 1;
    }
    job->progress.SetDialog(dialog);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&job->progress));
    CentreOnScreen(dialog);
    if (parentWindow) ShowWindow(static_cast<HWND>(parentWindow), SW_HIDE);
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);

    job->library = HoldLibrary();
    HANDLE worker = CreateThread(NULL, 0, DownloadWorker, job, 0, NULL);
    if (worker) {
        CloseHandle(worker);
        WaitForDownload(*job);
    } else {
        if (job->library) FreeLibrary(job->library);
        job->result.store(1);
        job->Release();  // the worker's hold
    }
    const int result = job->result.load();
    // A worker still running after WM_QUIT finds no dialog to move.
    job->progress.SetDialog(NULL);
    DestroyWindow(dialog);
    job->Release();
    return result;
}
