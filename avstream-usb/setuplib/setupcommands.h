// mrvsetuputil's commands: the table of names and word counts, and the
// command runner.
#pragma once

#include "argumenttable.h"

enum SetupCommandId {
    UpdateDriverForPnpDevCommand,
    UpdateDriverForModelsCommand,
    InstallOemInfCommand,
    InstallOemInfsCommand,
    ReinstallDriverForUnpluggedModelsCommand,
    CheckPendingInstallEventsCommand,
};

struct SetupCommand {
    const char* name;  // matched case-sensitively
    int words;         // the command word included
    SetupCommandId id;
};

// The command the table's words name with their exact word count; NULL
// when there is none.
const SetupCommand* FindSetupCommand(const ArgumentTable& table);

// Runs the command of a command line (without the program name) and
// returns its exit code; a line that is no command shows the
// invalid-arguments box and gives 0.
DWORD RunSetupCommand(const char* commandLine);

// The message box for a command line that is no command.
void ShowInvalidArguments(const char* commandLine);
