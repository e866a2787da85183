#include "versionquery.h"

#include <winhttp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "widetext.h"

namespace {

// The build's name, as a wide literal (the name's macro expanded first).
#define WIDE_NAME(name) WIDE(name)
const WCHAR kServerName[] = WIDE_NAME(MRV_UPDATE_SERVER);

// Brand and version are passed on in at most this many wide characters.
constexpr size_t kFieldCapacity = 64;

// A WinHTTP handle closed on every way out.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle) : m_handle(handle) {}
    ~InternetHandle()
    {
        if (m_handle) WinHttpCloseHandle(m_handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != NULL; }

private:
    HINTERNET m_handle;
};

void ToWideField(const char* text, WCHAR (&field)[kFieldCapacity])
{
    size_t converted = 0;
    // A longer text is cut to fit; one the code page cannot convert is sent empty.
    errno_t result = mbstowcs_s(&converted, field, kFieldCapacity, text ? text : "", _TRUNCATE);
    if (result != 0 && result != STRUNCATE) field[0] = 0;
}

}  // namespace

void FormatVersionCheckPath(const char* brand, int productId, const char* version, WCHAR* path, size_t capacity)
{
    WCHAR wideBrand[kFieldCapacity];
    WCHAR wideVersion[kFieldCapacity];
    ToWideField(brand, wideBrand);
    ToWideField(version, wideVersion);
    // A path that does not fit is sent as cut.
    _snwprintf(path, capacity - 1, WIDE("%ls?OSType=Windows&Brand=%ls&ProductId=%d&Version=%ls"),
               WIDE("/versioncheck/"), wideBrand, productId, wideVersion);
    path[capacity - 1] = 0;
}

bool QueryUpdateServer(const WCHAR* path, char* text)
{
    memset(text, 0, kAnswerBufferSize);
    InternetHandle session(WinHttpOpen(WIDE("AppVerCheck/0.0"), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    InternetHandle connection(WinHttpConnect(session.Get(), kServerName, INTERNET_DEFAULT_PORT, 0));
    if (!connection) return false;
    InternetHandle request(WinHttpOpenRequest(connection.Get(), WIDE("GET"), path, NULL, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request) return false;
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return false;
    if (!WinHttpReceiveResponse(request.Get(), NULL)) return false;

    // The body, chunk by chunk, as far as the buffer holds it; the rest is
    // read and dropped so the answer ends where the server ended it.
    size_t stored = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.Get(), &available) || available == 0) break;
        char chunk[kAnswerBufferSize];
        DWORD read = 0;
        DWORD wanted = available < sizeof chunk ? available : DWORD(sizeof chunk);
        if (!WinHttpReadData(request.Get(), chunk, wanted, &read) || read == 0) break;
        const size_t room = kAnswerBufferSize - 1 - stored;
        const size_t kept = read < room ? read : room;
        memcpy(text + stored, chunk, kept);
        stored += kept;
    }
    return true;
}
