#include "setupcommands.h"

#include <string.h>

namespace {

const SetupCommand kCommands[] = {
    {"UpdateDriverForPnpDev", 3, UpdateDriverForPnpDevCommand},
    {"UpdateDriverForModels", 3, UpdateDriverForModelsCommand},
    {"InstallOemInf", 3, InstallOemInfCommand},
    {"InstallOemInfs", 2, InstallOemInfsCommand},
    {"ReinstallDriverForUnpluggedModels", 3, ReinstallDriverForUnpluggedModelsCommand},
    {"CheckPendingInstallEvents", 1, CheckPendingInstallEventsCommand},
};

}  // namespace

const SetupCommand* FindSetupCommand(const ArgumentTable& table)
{
    if (table.count == 0) return NULL;
    for (const SetupCommand& command : kCommands) {
        if (strcmp(table.words[0], command.name) == 0) return command.words == table.count ? &command : NULL;
    }
    return NULL;
}
