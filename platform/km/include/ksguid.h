// Switches the GUID declarations that follow into definitions. Here every
// GUID is defined where it is declared (guiddef.h), so there is nothing to
// switch.
#pragma once
