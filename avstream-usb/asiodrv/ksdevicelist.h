// CKsDeviceList: the present device interfaces of one interface class, as
// device records (path, driver image path, friendly name). Derived lists
// choose which records to keep through Accept.
#pragma once

#include <windows.h>

struct DEVICE_RECORD {
    CHAR szDevicePath[MAX_PATH];
    CHAR szDriverImagePath[MAX_PATH];  // ImagePath of the device's service
    CHAR szFriendlyName[MAX_PATH];     // FriendlyName of the interface's key
};
typedef DEVICE_RECORD* PDEVICE_RECORD;

class CKsDeviceList {
public:
    static constexpr ULONG kMaxRecords = 32;

    explicit CKsDeviceList(REFGUID guidInterfaceClass);

    // Whether to keep a new record; the list owns kept records until it is
    // destroyed, so Accept may hold on to the pointer.
    virtual BOOL Accept(PDEVICE_RECORD pRecord);
    // Told when a record's device goes away.
    virtual void Removed(PDEVICE_RECORD pRecord);
    virtual ~CKsDeviceList();

    // Adds the present interfaces not yet held; a path already held (in any
    // case) is skipped. S_OK, or E_FAIL when the class cannot be listed.
    HRESULT Enumerate();

    ULONG GetCount() const { return ULONG(m_cRecords); }
    PDEVICE_RECORD GetRecord(ULONG i) const { return i < m_cRecords ? m_apRecords[i] : NULL; }

protected:
    GUID m_guidInterfaceClass;
    PDEVICE_RECORD m_apRecords[kMaxRecords];
    ULONGLONG m_cRecords;

private:
    bool IsHeld(LPCSTR pszPath) const;
    void DescribeRecord(PDEVICE_RECORD pRecord);
};
