// The registry entries that let ASIO hosts find and create the driver: the
// COM class under HKEY_CLASSES_ROOT\CLSID and the driver's key under
// HKEY_LOCAL_MACHINE\SOFTWARE\ASIO.
#pragma once

#include <windows.h>

// DllRegisterServer and DllUnregisterServer: 0, or -1 after a message box.
HRESULT registerServer();
HRESULT unregisterServer();

// Results of Register and Unregister besides 0.
constexpr LONG kNoModuleHandle = -101;
constexpr LONG kNoModuleFileName = -102;
constexpr LONG kNoClsidText = -103;
constexpr LONG kNoAnsiClsidText = -104;

// Register also returns -1 when a key cannot be created.
LONG Register(REFCLSID clsid, LPCSTR pszModulePath, LPCSTR pszName, LPCSTR pszDescription,
              LPCSTR pszThreadingModel);
LONG Unregister(REFCLSID clsid, LPCSTR pszModulePath, LPCSTR pszName);

// 0 when root\parent\name exists afterwards, -1 otherwise.
LONG CreateRegKey(HKEY hRoot, LPCSTR pszParent, LPCSTR pszName);
// Deletes root\parent\name with all its sub-keys; 0 when something was
// deleted, -1 otherwise.
LONG DeleteRegTree(HKEY hRoot, LPCSTR pszParent, LPCSTR pszName);
