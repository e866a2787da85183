// Win32 error codes and HRESULTs the user-mode package uses.
#pragma once

#include <stdint.h>

#define ERROR_SUCCESS                 0L
#define NO_ERROR                      0L
#define ERROR_INVALID_FUNCTION        1L
#define ERROR_FILE_NOT_FOUND          2L
#define ERROR_PATH_NOT_FOUND          3L
#define ERROR_ACCESS_DENIED           5L
#define ERROR_INVALID_HANDLE          6L
#define ERROR_NOT_ENOUGH_MEMORY       8L
#define ERROR_INVALID_DATA            13L
#define ERROR_OUTOFMEMORY             14L
#define ERROR_BAD_COMMAND             22L
#define ERROR_BAD_LENGTH              24L
#define ERROR_NOT_READY               21L
#define ERROR_GEN_FAILURE             31L
#define ERROR_NOT_SUPPORTED           50L
#define ERROR_INVALID_PARAMETER       87L
#define ERROR_SEM_TIMEOUT             121L
#define ERROR_INSUFFICIENT_BUFFER     122L
#define ERROR_INVALID_NAME            123L
#define ERROR_MOD_NOT_FOUND           126L
#define ERROR_PROC_NOT_FOUND          127L
#define ERROR_BUSY                    170L
#define ERROR_ALREADY_EXISTS          183L
#define ERROR_MORE_DATA               234L
#define ERROR_NO_MORE_ITEMS           259L
#define ERROR_OPERATION_ABORTED       995L
#define ERROR_IO_INCOMPLETE           996L
#define ERROR_IO_PENDING              997L
#define ERROR_NOACCESS                998L
#define ERROR_INVALID_FLAGS           1004L
#define ERROR_KEY_DELETED             1018L
#define ERROR_DLL_INIT_FAILED         1114L
#define ERROR_DEVICE_NOT_CONNECTED    1167L
#define ERROR_NOT_FOUND               1168L
#define ERROR_CANCELLED               1223L
#define ERROR_NO_SYSTEM_RESOURCES     1450L
#define ERROR_NO_MATCH                1169L
#define ERROR_DEVICE_REMOVED          1617L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_INVALID_USER_BUFFER     1784L
#define ERROR_NO_SUCH_DEVICE_INTERFACE 0xE000020BL

typedef int32_t HRESULT;

#define S_OK            ((HRESULT)0x00000000L)
#define S_FALSE         ((HRESULT)0x00000001L)
#define E_NOTIMPL       ((HRESULT)0x80004001L)
#define E_NOINTERFACE   ((HRESULT)0x80004002L)
#define E_POINTER       ((HRESULT)0x80004003L)
#define E_FAIL          ((HRESULT)0x80004005L)
#define E_UNEXPECTED    ((HRESULT)0x8000FFFFL)
#define E_OUTOFMEMORY   ((HRESULT)0x8007000EL)
#define E_INVALIDARG    ((HRESULT)0x80070057L)
#define NOERROR         0

#define RPC_E_CHANGED_MODE        ((HRESULT)0x80010106L)
#define CLASS_E_NOAGGREGATION     ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define REGDB_E_CLASSNOTREG       ((HRESULT)0x80040154L)
#define CO_E_NOTINITIALIZED       ((HRESULT)0x800401F0L)
#define CO_E_CLASSSTRING          ((HRESULT)0x800401F3L)
#define CO_E_DLLNOTFOUND          ((HRESULT)0x800401F8L)
#define CO_E_ERRORINDLL           ((HRESULT)0x800401F9L)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x) & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000)))
