// Resource identifiers of mrvusbasio.rc, shared with the dialog procedures.
#pragma once

#define IDD_ABOUT 103
#define IDI_DRIVER 107
#define IDD_CONTROLPANEL 129
#define IDB_BANNER 206

#define IDC_ABOUT 104
#define IDC_BUFFERLENGTH 1000
#define IDC_BUFFERLENGTH_TEXT 1002
#define IDC_INPUTLATENCY 1003
#define IDC_OUTPUTLATENCY 1004
#define IDC_SAMPLERATE 1005
#define IDC_SAMPLEFORMAT 1006
#define IDC_DEVICE 1007
#define IDC_VERSIONTEXT 2000
