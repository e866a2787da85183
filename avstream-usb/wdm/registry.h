// DWORD values of the driver's registry keys.
#pragma once

#include "kernelobject.h"

// Reads a REG_DWORD value. STATUS_OBJECT_NAME_NOT_FOUND when it does not
// exist, STATUS_OBJECT_TYPE_MISMATCH when it has another type; *value is
// written only on success.
NTSTATUS ReadDword(HANDLE key, PCWSTR name, ULONG* value);
NTSTATUS WriteDword(HANDLE key, PCWSTR name, ULONG value);
