// StringFromCLSID, StringFromGUID2, CLSIDFromString.
#include "um/ole32/comstate.h"

#include <cstdio>
#include <cstring>

namespace umsim {

std::string GuidText(const GUID& guid)
{
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(guid.Data1),
             unsigned(guid.Data2), unsigned(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
             guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::optional<GUID> ParseGuidText(const std::u16string& text)
{
    // Exactly the braced form, hex digits of either case.
    static constexpr char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != sizeof kShape - 1) return std::nullopt;
    uint8_t bytes[16];
    size_t nibble = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (kShape[i] != 'X') {
            if (c != char16_t(kShape[i])) return std::nullopt;
            continue;
        }
        int value = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10
                  : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
        if (value < 0) return std::nullopt;
        bytes[nibble / 2] = uint8_t(nibble % 2 ? (bytes[nibble / 2] << 4) | value : value);
        ++nibble;
    }
    GUID guid;
    guid.Data1 = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    guid.Data2 = uint16_t(bytes[4] << 8 | bytes[5]);
    guid.Data3 = uint16_t(bytes[6] << 8 | bytes[7]);
    memcpy(guid.Data4, bytes + 8, 8);
    return guid;
}

}  // namespace umsim

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    std::string text = umsim::GuidText(rguid);
    if (!lpsz || cchMax < int(text.size()) + 1) return 0;
    for (size_t i = 0; i <= text.size(); ++i) lpsz[i] = OLECHAR(text.c_str()[i]);
    return int(text.size()) + 1;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz)
{
    if (!lplpsz) return E_INVALIDARG;
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
    if (!*lplpsz) return E_OUTOFMEMORY;
    StringFromGUID2(rclsid, *lplpsz, 39);
    return S_OK;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (!pclsid) return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = GUID_NULL;
        return NOERROR;
    }
    // Program ids are not registered here, so only the braced form reads.
    auto guid = umsim::ParseGuidText(lpsz);
    if (!guid) return CO_E_CLASSSTRING;
    *pclsid = *guid;
    return NOERROR;
}
