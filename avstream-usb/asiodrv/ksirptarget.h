// CKsIrpTarget: the base of every client object that owns a kernel-streaming
// handle (filters and pins). It issues one I/O control synchronously over an
// overlapped handle and builds the library's property requests.
#pragma once

#include <windows.h>
#include <ks.h>

class CKsIrpTarget {
public:
    explicit CKsIrpTarget(HANDLE hHandle);
    // Does not close the handle: each derived class closes its own.
    virtual ~CKsIrpTarget();

    HANDLE GetHandle() const { return m_hHandle; }
    static BOOL IsValidHandle(HANDLE hHandle);
    // Closes a valid handle and stores INVALID_HANDLE_VALUE in it; TRUE and
    // nothing else for an invalid one.
    static BOOL SafeCloseHandle(HANDLE& hHandle);
    BOOL Close();

    // One request on any handle (the caller's own or, for the ASIO driver's
    // event, a filter's), waited for on a private event. A size query
    // (IOCTL_KS_PROPERTY, no output) answered "too small" or "more data" is
    // S_OK with the needed size in *pulBytesReturned. A request the driver
    // pends is judged by how it finally completes, with its real count.
    static HRESULT SyncIoctl(HANDLE hHandle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer, PVOID pvOutBuffer,
                             ULONG cbOutBuffer, PULONG pulBytesReturned);

    HRESULT PropertyBasicSupport(REFGUID guidPropertySet, ULONG nProperty, PULONG pulAccessFlags);
    HRESULT GetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue, ULONG cbValue,
                              PVOID pvExtra = NULL, ULONG cbExtra = 0);
    // On success with a non-empty answer *ppKsMultipleItem is a new buffer
    // the caller frees with delete[] on its bytes (FreeMultipleItem).
    HRESULT GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty, PKSMULTIPLE_ITEM* ppKsMultipleItem);
    HRESULT SetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue, ULONG cbValue,
                              PVOID pvExtra = NULL, ULONG cbExtra = 0);

    // Multi-item answers are byte arrays.
    static PKSMULTIPLE_ITEM AllocateMultipleItem(ULONG cbSize);
    static void FreeMultipleItem(PKSMULTIPLE_ITEM pItem);

    // Set to 1 at construction; the owner of a filter counts its releases.
    ULONG m_ulRefCount;

protected:
    // The two requests of a variable-size answer: a size query, then a read
    // into a buffer of exactly that size, which stays with the caller.
    HRESULT QueryMultipleItem(PVOID pvRequest, ULONG cbRequest, PKSMULTIPLE_ITEM* ppKsMultipleItem);
    // Sends a KSPROPERTY (with cbExtra bytes of request data after it) with
    // the given flags.
    HRESULT SendPropertyWithExtra(REFGUID guidPropertySet, ULONG nProperty, ULONG ulFlags, PVOID pvValue,
                                  ULONG cbValue, PVOID pvExtra, ULONG cbExtra);

    HANDLE m_hHandle;
};
