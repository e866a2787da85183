// The configuration manager: device node status and the installer's queue.
#pragma once

#include <windows.h>

typedef DWORD DEVINST, *PDEVINST;
typedef DWORD CONFIGRET;

#define CR_SUCCESS          0x00000000
#define CR_INVALID_POINTER  0x00000003
#define CR_INVALID_FLAG     0x00000004
#define CR_INVALID_DEVNODE  0x00000005
#define CR_NO_SUCH_DEVNODE  0x0000000D

// Device node status bits (CM_Get_DevNode_Status).
#define DN_ROOT_ENUMERATED 0x00000001
#define DN_DRIVER_LOADED   0x00000002
#define DN_ENUM_LOADED     0x00000004
#define DN_STARTED         0x00000008
#define DN_HAS_PROBLEM     0x00000400
#define DN_REMOVABLE       0x00004000

// Problem numbers.
#define CM_PROB_NOT_CONFIGURED  0x00000001
#define CM_PROB_FAILED_START    0x0000000A
#define CM_PROB_FAILED_INSTALL  0x0000001C
#define CM_PROB_REINSTALL       0x00000012

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags);

// WAIT_OBJECT_0 when no installation is pending, WAIT_TIMEOUT when one
// still is after dwTimeout milliseconds, WAIT_FAILED on error.
DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout);
#define CM_WaitNoPendingInstallEvents CMP_WaitNoPendingInstallEvents
