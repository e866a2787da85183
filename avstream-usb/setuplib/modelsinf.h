// A driver package's INF read for its models: the hardware IDs that a
// models section lists.
#pragma once

#include <windows.h>
#include <setupapi.h>

// Opens the INF as the class it declares in [Version]; INVALID_HANDLE_VALUE
// when it does not open.
HINF OpenModelsInf(const char* infPath);

// The hardware ID (field 2) of a models line. FALSE when the line or its
// field cannot be read, or the field is empty (it names no device).
BOOL ReadModelHardwareId(HINF inf, const char* modelsSection, DWORD index, char (&hardwareId)[MAX_PATH]);
