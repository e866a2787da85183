// Common controls: class registration, the trackbar and the progress bar,
// and the notifications common controls send.
#pragma once

#include <windows.h>

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_LISTVIEW_CLASSES   0x00000001
#define ICC_TREEVIEW_CLASSES   0x00000002
#define ICC_BAR_CLASSES        0x00000004
#define ICC_TAB_CLASSES        0x00000008
#define ICC_UPDOWN_CLASS       0x00000010
#define ICC_PROGRESS_CLASS     0x00000020
#define ICC_HOTKEY_CLASS       0x00000040
#define ICC_ANIMATE_CLASS      0x00000080
#define ICC_WIN95_CLASSES      0x000000FF
#define ICC_DATE_CLASSES       0x00000100
#define ICC_USEREX_CLASSES     0x00000200
#define ICC_COOL_CLASSES       0x00000400
#define ICC_INTERNET_CLASSES   0x00000800
#define ICC_PAGESCROLLER_CLASS 0x00001000
#define ICC_NATIVEFNTCTL_CLASS 0x00002000
#define ICC_STANDARD_CLASSES   0x00004000
#define ICC_LINK_CLASS         0x00008000

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);
void WINAPI InitCommonControls(void);

// ---------------------------------------------------------------------------
// Notifications
// ---------------------------------------------------------------------------
#define NM_FIRST           (0U - 0U)
#define NM_OUTOFMEMORY     (NM_FIRST - 1)
#define NM_CLICK           (NM_FIRST - 2)
#define NM_DBLCLK          (NM_FIRST - 3)
#define NM_RETURN          (NM_FIRST - 4)
#define NM_RCLICK          (NM_FIRST - 5)
#define NM_RDBLCLK         (NM_FIRST - 6)
#define NM_SETFOCUS        (NM_FIRST - 7)
#define NM_KILLFOCUS       (NM_FIRST - 8)
#define NM_CUSTOMDRAW      (NM_FIRST - 12)
#define NM_HOVER           (NM_FIRST - 13)
#define NM_NCHITTEST       (NM_FIRST - 14)
#define NM_KEYDOWN         (NM_FIRST - 15)
#define NM_RELEASEDCAPTURE (NM_FIRST - 16)
#define NM_SETCURSOR       (NM_FIRST - 17)
#define NM_CHAR            (NM_FIRST - 18)

#define CDDS_PREPAINT      0x00000001
#define CDDS_POSTPAINT     0x00000002
#define CDDS_PREERASE      0x00000003
#define CDDS_POSTERASE     0x00000004
#define CDDS_ITEM          0x00010000
#define CDDS_ITEMPREPAINT  (CDDS_ITEM | CDDS_PREPAINT)
#define CDDS_ITEMPOSTPAINT (CDDS_ITEM | CDDS_POSTPAINT)
#define CDRF_DODEFAULT         0x00000000
#define CDRF_NEWFONT           0x00000002
#define CDRF_SKIPDEFAULT       0x00000004
#define CDRF_NOTIFYPOSTPAINT   0x00000010
#define CDRF_NOTIFYITEMDRAW    0x00000020

typedef struct tagNMCUSTOMDRAWINFO {
    NMHDR hdr;
    DWORD dwDrawStage;
    HDC hdc;
    RECT rc;
    DWORD_PTR dwItemSpec;
    UINT uItemState;
    LPARAM lItemlParam;
} NMCUSTOMDRAW, *LPNMCUSTOMDRAW;

// ---------------------------------------------------------------------------
// Trackbar
// ---------------------------------------------------------------------------
#define TRACKBAR_CLASSA "msctls_trackbar32"
#define TRACKBAR_CLASSW u"msctls_trackbar32"

#define TBS_AUTOTICKS      0x0001
#define TBS_VERT           0x0002
#define TBS_HORZ           0x0000
#define TBS_TOP            0x0004
#define TBS_BOTTOM         0x0000
#define TBS_LEFT           0x0004
#define TBS_RIGHT          0x0000
#define TBS_BOTH           0x0008
#define TBS_NOTICKS        0x0010
#define TBS_ENABLESELRANGE 0x0020
#define TBS_FIXEDLENGTH    0x0040
#define TBS_NOTHUMB        0x0080
#define TBS_TOOLTIPS       0x0100

#define TBM_GETPOS      (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_SETPOS      (WM_USER + 5)
#define TBM_SETRANGE    (WM_USER + 6)
#define TBM_SETRANGEMIN (WM_USER + 7)
#define TBM_SETRANGEMAX (WM_USER + 8)
#define TBM_SETTICFREQ  (WM_USER + 20)
#define TBM_SETPAGESIZE (WM_USER + 21)
#define TBM_GETPAGESIZE (WM_USER + 22)
#define TBM_SETLINESIZE (WM_USER + 23)
#define TBM_GETLINESIZE (WM_USER + 24)

#define TB_LINEUP        0
#define TB_LINEDOWN      1
#define TB_PAGEUP        2
#define TB_PAGEDOWN      3
#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK    5
#define TB_TOP           6
#define TB_BOTTOM        7
#define TB_ENDTRACK      8

// ---------------------------------------------------------------------------
// Progress bar
// ---------------------------------------------------------------------------
#define PROGRESS_CLASSA "msctls_progress32"
#define PROGRESS_CLASSW u"msctls_progress32"

#define PBS_SMOOTH   0x01
#define PBS_VERTICAL 0x04
#define PBS_MARQUEE  0x08

#define PBM_SETRANGE   (WM_USER + 1)
#define PBM_SETPOS     (WM_USER + 2)
#define PBM_DELTAPOS   (WM_USER + 3)
#define PBM_SETSTEP    (WM_USER + 4)
#define PBM_STEPIT     (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE   (WM_USER + 7)
#define PBM_GETPOS     (WM_USER + 8)

typedef struct {
    int iLow;
    int iHigh;
} PBRANGE, *PPBRANGE;

#ifdef UNICODE
#define TRACKBAR_CLASS TRACKBAR_CLASSW
#define PROGRESS_CLASS PROGRESS_CLASSW
#else
#define TRACKBAR_CLASS TRACKBAR_CLASSA
#define PROGRESS_CLASS PROGRESS_CLASSA
#endif
