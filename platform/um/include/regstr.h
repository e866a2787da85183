// Registry names and values of the configuration manager, as regstr.h
// publishes them.
#pragma once

// ConfigFlags of a device instance (SPDRP_CONFIGFLAGS).
#define CONFIGFLAG_DISABLED       0x00000001
#define CONFIGFLAG_REINSTALL      0x00000020
#define CONFIGFLAG_FAILEDINSTALL  0x00000040
