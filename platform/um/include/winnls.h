// Code pages (included by windows.h).
#pragma once

#include <windows.h>

#define CP_ACP   0
#define CP_OEMCP 1
#define CP_UTF8  65001

#define MB_ERR_INVALID_CHARS 0x00000008

typedef const CHAR* LPCCH;
typedef const WCHAR* LPCWCH;

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar);
