#include "setupalgorithms.h"
#include "setupcommands.h"

#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>

namespace {

DWORD UpdateDriverForPnpDev(const char* hardwareId, const char* infPath)
{
    BOOL rebootRequired = FALSE;
    // The result is read from the last error and the reboot flag alone, so
    // no error of an earlier call may linger.
    SetLastError(ERROR_SUCCESS);
    UpdateDriverForPlugAndPlayDevicesA(NULL, hardwareId, infPath, INSTALLFLAG_FORCE, &rebootRequired);
    if (GetLastError() == ERROR_NO_SUCH_DEVINST) return 1;
    return rebootRequired ? 2 : 0;
}

DWORD InstallOemInf(const char* infPath, const char* mediaLocation)
{
    return SetupCopyOEMInfA(infPath, mediaLocation, SPOST_PATH, 0, NULL, 0, NULL, NULL) ? 0 : GetLastError();
}

}  // namespace

DWORD RunSetupCommand(const char* commandLine)
{
    ArgumentTable table;
    const SetupCommand* command = SplitCommandLine(commandLine, &table) ? FindSetupCommand(table) : NULL;
    if (!command) {
        ShowInvalidArguments(commandLine);
        return 0;
    }
    const char* operand1 = table.words[1];
    const char* operand2 = table.words[2];
    switch (command->id) {
    case UpdateDriverForPnpDevCommand:
        return UpdateDriverForPnpDev(operand1, operand2);
    case UpdateDriverForModelsCommand:
        return UpdateDriverForModels(operand1, operand2);
    case InstallOemInfCommand:
        return InstallOemInf(operand1, operand2);
    case InstallOemInfsCommand:
        return InstallOemInfs(operand1);
    case ReinstallDriverForUnpluggedModelsCommand:
        return ReinstallDriverForUnpluggedModels(operand1, operand2);
    case CheckPendingInstallEventsCommand:
        return CMP_WaitNoPendingInstallEvents(0) == 0 ? 0 : 1;
    }
    return 0;
}
