#include "ksdevicelist.h"

#include "kstrace.h"

#include <setupapi.h>

#include <cstring>
#include <new>

namespace {

constexpr ULONG kDetailBufferSize = 528;
constexpr ULONG kRecordDetailBufferSize = 260;
constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";

// What Windows demands in the detail record's cbSize for the word size.
constexpr DWORD kDetailHeaderSize = sizeof(void*) == 8 ? 8 : 5;

// Reads a string value of at most cbText - 1 bytes; leaves pszText empty
// when it is missing, too long, or not text.
void ReadStringValue(HKEY hKey, LPCSTR pszValue, LPSTR pszText, DWORD cbText)
{
    DWORD dwType = 0;
    DWORD cbData = cbText - 1;
    if (RegQueryValueExA(hKey, pszValue, NULL, &dwType, reinterpret_cast<LPBYTE>(pszText), &cbData) != ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) {
        pszText[0] = '\0';
        return;
    }
    pszText[cbData < cbText ? cbData : cbText - 1] = '\0';
}

}  // namespace

CKsDeviceList::CKsDeviceList(REFGUID guidInterfaceClass)
    : m_guidInterfaceClass(guidInterfaceClass), m_apRecords{}, m_cRecords(0)
{
    KsTraceEnter("CKsDeviceList::CKsDeviceList()");
    KsTraceLeave("CKsDeviceList::CKsDeviceList()");
}

CKsDeviceList::~CKsDeviceList()
{
    KsTraceEnter("CKsDeviceList::~CKsDeviceList()");
    for (ULONGLONG i = 0; i < m_cRecords; ++i) delete m_apRecords[i];
    m_cRecords = 0;
    KsTraceLeave("CKsDeviceList::~CKsDeviceList()");
}

BOOL CKsDeviceList::Accept(PDEVICE_RECORD pRecord)
{
    UNREFERENCED_PARAMETER(pRecord);
    return TRUE;
}

void CKsDeviceList::Removed(PDEVICE_RECORD pRecord) { UNREFERENCED_PARAMETER(pRecord); }

bool CKsDeviceList::IsHeld(LPCSTR pszPath) const
{
    for (ULONGLONG i = 0; i < m_cRecords; ++i) {
        if (_stricmp(m_apRecords[i]->szDevicePath, pszPath) == 0) return true;
    }
    return false;
}

void CKsDeviceList::DescribeRecord(PDEVICE_RECORD pRecord)
{
    HDEVINFO hSet = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (hSet == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    memset(&interfaceData, 0, sizeof interfaceData);
    interfaceData.cbSize = sizeof interfaceData;
    if (SetupDiOpenDeviceInterfaceA(hSet, pRecord->szDevicePath, 0, &interfaceData)) {
        HKEY hInterfaceKey = SetupDiOpenDeviceInterfaceRegKey(hSet, &interfaceData, 0, KEY_READ);
        if (hInterfaceKey != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
            ReadStringValue(hInterfaceKey, "FriendlyName", pRecord->szFriendlyName, MAX_PATH);
            RegCloseKey(hInterfaceKey);
        }

        // The detail record is 8-byte aligned for its header.
        ULONGLONG aqwDetail[(kRecordDetailBufferSize + 7) / 8];
        auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(aqwDetail);
        pDetail->cbSize = kDetailHeaderSize;
        SP_DEVINFO_DATA devInfo;
        memset(&devInfo, 0, sizeof devInfo);
        devInfo.cbSize = sizeof devInfo;
        CHAR szService[MAX_PATH];
        if (SetupDiGetDeviceInterfaceDetailA(hSet, &interfaceData, pDetail, kRecordDetailBufferSize, NULL, &devInfo) &&
            SetupDiGetDeviceRegistryPropertyA(hSet, &devInfo, SPDRP_SERVICE, NULL, reinterpret_cast<PBYTE>(szService),
                                              sizeof szService, NULL)) {
            CHAR szKey[MAX_PATH];
            size_t cchPrefix = sizeof kServicesKey - 1;
            size_t cchService = strnlen(szService, sizeof szService);
            if (cchPrefix + cchService < MAX_PATH) {
                memcpy(szKey, kServicesKey, cchPrefix);
                memcpy(szKey + cchPrefix, szService, cchService + 1);
                HKEY hServiceKey = NULL;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_READ, &hServiceKey) == ERROR_SUCCESS) {
                    ReadStringValue(hServiceKey, "ImagePath", pRecord->szDriverImagePath, MAX_PATH);
                    RegCloseKey(hServiceKey);
                }
            }
        }
    }
    SetupDiDestroyDeviceInfoList(hSet);
}

HRESULT CKsDeviceList::Enumerate()
{
    KsTraceEnter("CKsDeviceList::Enumerate()");
    HDEVINFO hClassSet = SetupDiGetClassDevsA(&m_guidInterfaceClass, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hClassSet == INVALID_HANDLE_VALUE) return KsTraceLeave("CKsDeviceList::Enumerate", E_FAIL);

    auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(
        new (std::nothrow) ULONGLONG[(kDetailBufferSize + 7) / 8]);
    for (DWORD dwIndex = 0; pDetail; ++dwIndex) {
        SP_DEVICE_INTERFACE_DATA interfaceData;
        memset(&interfaceData, 0, sizeof interfaceData);
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(hClassSet, NULL, &m_guidInterfaceClass, dwIndex, &interfaceData)) break;
        pDetail->cbSize = kDetailHeaderSize;
        if (!SetupDiGetDeviceInterfaceDetailA(hClassSet, &interfaceData, pDetail, kDetailBufferSize, NULL, NULL)) {
            continue;
        }
        if (IsHeld(pDetail->DevicePath)) continue;

        auto* pRecord = new (std::nothrow) DEVICE_RECORD;
        if (!pRecord) break;
        memset(pRecord, 0, sizeof *pRecord);
        strncpy(pRecord->szDevicePath, pDetail->DevicePath, MAX_PATH - 1);
        DescribeRecord(pRecord);
        if (m_cRecords >= kMaxRecords || !Accept(pRecord)) {
            delete pRecord;
            continue;
        }
        m_apRecords[m_cRecords++] = pRecord;
    }
    delete[] reinterpret_cast<ULONGLONG*>(pDetail);
    SetupDiDestroyDeviceInfoList(hClassSet);
    return KsTraceLeave("CKsDeviceList::Enumerate", S_OK);
}
