// Resource ids of mrvupdate.dll, shared by the .rc file and the code.
#pragma once

#define IDS_UPDATE_AVAILABLE 101
#define IDS_VERSION 102
#define IDS_DOWNLOAD_QUESTION 103

#define IDD_DOWNLOAD 102
#define IDC_DOWNLOAD_PROGRESS 1001
#define IDC_DOWNLOAD_TEXT 1002
