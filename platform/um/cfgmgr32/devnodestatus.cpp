// CM_Get_DevNode_Status and the installer's queue.
#include "um/bridge/kernelbridge.h"
#include "um/cfgmgr32/devinst.h"

#include <cfgmgr32.h>

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags)
{
    if (!pulStatus || !pulProblemNumber) return CR_INVALID_POINTER;
    if (ulFlags) return CR_INVALID_FLAG;
    auto instanceId = umsim::InstanceIdOfDevInst(dnDevInst);
    if (!instanceId) return CR_INVALID_DEVNODE;
    auto state = umsim::bridge::PresentDeviceNode(*instanceId);
    if (!state) return CR_NO_SUCH_DEVNODE;  // a phantom: the device is unplugged
    // Every device here hangs off a USB hub and can be pulled.
    *pulStatus = DN_REMOVABLE;
    *pulProblemNumber = 0;
    if (state->started) {
        *pulStatus |= DN_DRIVER_LOADED | DN_STARTED;
    } else {
        *pulStatus |= DN_HAS_PROBLEM;
        *pulProblemNumber = state->problem;
    }
    return CR_SUCCESS;
}

DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout)
{
    return umsim::bridge::WaitNoPendingInstalls(dwTimeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
