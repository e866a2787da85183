// The control panel: buffer length, sample rate, sample format and device,
// shown modally on the host's thread and applied through updatePrefs.
#include "aboutbox.h"
#include "devicesettingsids.h"
#include "drivertrace.h"
#include "kstrace.h"
#include "mrvusbasio.h"
#include "comserver/module.h"
#include "resource.h"

#include <stdio.h>
#include <commctrl.h>

#include <cstring>

namespace {

constexpr LONG kMinBufferLength = 1;
constexpr LONG kMaxBufferLength = 20;

// The driver whose panel is open; one panel at a time per process.
MrvUsbAsio* g_panelDriver = nullptr;

Prefs& workingCopy(HWND dialog) { return *reinterpret_cast<Prefs*>(GetWindowLongPtrA(dialog, GWLP_USERDATA)); }

void enableOk(HWND dialog) { EnableWindow(GetDlgItem(dialog, IDOK), TRUE); }

void refreshLabels(HWND dialog)
{
    const Prefs& working = workingCopy(dialog);
    CHAR text[32];
    _snprintf(text, sizeof text - 1, "%d ms", int(working.bufferLength));
    text[sizeof text - 1] = '\0';
    SetDlgItemTextA(dialog, IDC_BUFFERLENGTH_TEXT, text);
    // The panel's rounded figure for the kernel driver's own delay.
    const float input = float(working.numKsPackets * working.bufferLength) + 1.3f;
    _snprintf(text, sizeof text - 1, "%.1f ms", double(input));
    SetDlgItemTextA(dialog, IDC_INPUTLATENCY, text);
    _snprintf(text, sizeof text - 1, "%.1f ms", double(float(working.bufferLength) + input));
    SetDlgItemTextA(dialog, IDC_OUTPUTLATENCY, text);
}

void initialise(HWND dialog, Prefs& working)
{
    SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&working));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadIconA(moduleInstance(), MAKEINTRESOURCEA(IDI_DRIVER))));
    SendDlgItemMessageA(dialog, IDC_BUFFERLENGTH, TBM_SETRANGE, TRUE, MAKELPARAM(kMinBufferLength, kMaxBufferLength));
    SendDlgItemMessageA(dialog, IDC_BUFFERLENGTH, TBM_SETPOS, TRUE, working.bufferLength);

    SendDlgItemMessageA(dialog, IDC_SAMPLEFORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("16 bit"));
    SendDlgItemMessageA(dialog, IDC_SAMPLEFORMAT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("24 bit"));
    SendDlgItemMessageA(dialog, IDC_SAMPLEFORMAT, CB_SETCURSEL, working.sampleFormat, 0);

    for (size_t i = 0; i < ARRAYSIZE(kSampleRates); ++i) {
        CHAR text[16];
        _snprintf(text, sizeof text - 1, "%d", int(kSampleRates[i]));
        text[sizeof text - 1] = '\0';
        SendDlgItemMessageA(dialog, IDC_SAMPLERATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (kSampleRates[i] == working.sampleRate) SendDlgItemMessageA(dialog, IDC_SAMPLERATE, CB_SETCURSEL, i, 0);
    }

    const CKsAudFilterList& filters = g_panelDriver->filters();
    LRESULT selected = 0;
    for (ULONG i = 0; i < filters.GetFilterCount(); ++i) {
        CKsAudFilter* filter = filters.GetFilter(i);
        if (!filter) continue;
        LRESULT item = SendDlgItemMessageA(dialog, IDC_DEVICE, CB_ADDSTRING, 0,
                                           reinterpret_cast<LPARAM>(filter->m_szFriendlyName));
        if (item < 0) continue;
        SendDlgItemMessageA(dialog, IDC_DEVICE, CB_SETITEMDATA, item, i);
        if (filter == g_panelDriver->openFilter()) selected = item;
    }
    SendDlgItemMessageA(dialog, IDC_DEVICE, CB_SETCURSEL, selected, 0);
    PostMessageA(dialog, WM_USER, 0, 0);
}

void onCommand(HWND dialog, WORD id, WORD code)
{
    Prefs& working = workingCopy(dialog);
    switch (id) {
    case IDC_SAMPLERATE:
    case IDC_SAMPLEFORMAT: {
        if (code != CBN_SELCHANGE) return;
        LRESULT rate = SendDlgItemMessageA(dialog, IDC_SAMPLERATE, CB_GETCURSEL, 0, 0);
        if (rate >= 0 && size_t(rate) < ARRAYSIZE(kSampleRates)) working.sampleRate = kSampleRates[rate];
        LRESULT format = SendDlgItemMessageA(dialog, IDC_SAMPLEFORMAT, CB_GETCURSEL, 0, 0);
        if (format >= 0 && size_t(format) < ARRAYSIZE(kSampleFormats)) working.sampleFormat = ULONG(format);
        PostMessageA(dialog, WM_USER, 0, 0);
        enableOk(dialog);
        return;
    }
    case IDC_DEVICE: {
        if (code != CBN_SELCHANGE) return;
        LRESULT item = SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCURSEL, 0, 0);
        if (item < 0) return;
        LRESULT index = SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETITEMDATA, item, 0);
        CKsAudFilter* filter = g_panelDriver->filters().GetFilter(ULONG(index));
        if (!filter) return;
        strncpy(working.filterPath, filter->GetDevicePath(), MAX_PATH - 1);
        working.filterPath[MAX_PATH - 1] = '\0';
        enableOk(dialog);
        return;
    }
    case IDC_ABOUT:
        showAboutBox(dialog);
        return;
    case IDOK:
    case IDCANCEL:
        EndDialog(dialog, id);
        return;
    }
}

void readTrackbar(HWND dialog)
{
    workingCopy(dialog).bufferLength = LONG(SendDlgItemMessageA(dialog, IDC_BUFFERLENGTH, TBM_GETPOS, 0, 0));
}

INT_PTR CALLBACK controlPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        initialise(dialog, *reinterpret_cast<Prefs*>(lParam));
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!header || header->idFrom != IDC_BUFFERLENGTH) return FALSE;
        if (header->code == UINT(NM_RELEASEDCAPTURE)) {
            enableOk(dialog);
        } else if (header->code == UINT(NM_CUSTOMDRAW)) {
            readTrackbar(dialog);
            PostMessageA(dialog, WM_USER, 0, 0);
        } else {
            refreshLabels(dialog);
        }
        return FALSE;
    }
    case WM_HSCROLL:
        // Moves by keyboard end here without a released capture.
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDC_BUFFERLENGTH)) {
            readTrackbar(dialog);
            refreshLabels(dialog);
            enableOk(dialog);
        }
        return TRUE;
    case WM_COMMAND:
        onCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_USER:
        refreshLabels(dialog);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

ASIOError MrvUsbAsio::controlPanel()
try {
    // The trackbar's window class comes from the common controls.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    // The panel starts from what is in force, the open device included, so
    // OK without touching a list keeps them.
    Prefs working = prefs;
    working.bufferLength = readBufferLength();
    if (filter) {
        strncpy(working.filterPath, filter->GetDevicePath(), MAX_PATH - 1);
        working.filterPath[MAX_PATH - 1] = '\0';
    }
    g_panelDriver = this;
    INT_PTR result = DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(IDD_CONTROLPANEL), sysHandle,
                                     controlPanelProc, reinterpret_cast<LPARAM>(&working));
    g_panelDriver = nullptr;
    if (result == IDOK) updatePrefs(working);
    return ASE_OK;
} catch (...) {
    g_panelDriver = nullptr;
    return ASE_OK;
}

void MrvUsbAsio::updatePrefs(const Prefs& chosen)
{
    if (prefs.sampleFormat >= ARRAYSIZE(kSampleFormats)) prefs.sampleFormat = kDefaultSampleFormat;
    if (filter && chosen.bufferLength > 0 && readBufferLength() != chosen.bufferLength) {
        ULONG length = ULONG(chosen.bufferLength);
        filter->SetPropertySimple(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, &length,
                                  sizeof length);
    }
    savePrefs(chosen);
    if (filter && !initialised) {
        // Still inside init: the new settings can take effect at once.
        CKsAudFilter* same = filter;
        closeFilter();
        prefs = chosen;
        if (!tryFilter(same)) KsTrace(1, "MrvUsbAsio::updatePrefs() : Could not re-open filter");
        return;
    }
    DriverTrace("RESETTING \n");
    requestReset();
}
