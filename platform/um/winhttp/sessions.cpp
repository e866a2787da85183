// WinHttpOpen, WinHttpConnect and WinHttpCloseHandle: the handles above a
// request. Only synchronous sessions are offered; proxy settings are taken
// and not used, as the virtual machine's network has no proxy.
#include "um/winhttp/internethandles.h"

#include "um/textconversion.h"

#include <algorithm>

namespace umsim {
namespace {

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

bool IsServerNameChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
           c == '_' || c == ':';
}

}  // namespace

DWORD WinHttpError(HttpFailure failure)
{
    switch (failure) {
    case HttpFailure::None: return ERROR_SUCCESS;
    case HttpFailure::NameNotResolved: return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case HttpFailure::CannotConnect: return ERROR_WINHTTP_CANNOT_CONNECT;
    case HttpFailure::ConnectionError: return ERROR_WINHTTP_CONNECTION_ERROR;
    case HttpFailure::InvalidResponse: return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case HttpFailure::Timeout: return ERROR_WINHTTP_TIMEOUT;
    }
    return ERROR_WINHTTP_INTERNAL_ERROR;
}

}  // namespace umsim

HINTERNET WINAPI WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW, LPCWSTR pszProxyBypassW,
                             DWORD dwFlags)
{
    (void)dwAccessType, (void)pszProxyW, (void)pszProxyBypassW;
    if (dwFlags & WINHTTP_FLAG_ASYNC) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    auto session = std::make_shared<umsim::InternetSession>();
    session->agent = umsim::ToUtf8(umsim::WideText(pszAgentW));
    // The agent goes into a header line as it is.
    if (umsim::HasLineBreak(session->agent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return umsim::InsertHandle(std::move(session));
}

HINTERNET WINAPI WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                                DWORD dwReserved)
{
    (void)dwReserved;
    auto session =
        umsim::LookUpInternetHandle<umsim::InternetSession>(hSession, umsim::ObjectKind::InternetSession, "WinHttpConnect");
    if (!session) return NULL;
    std::string host = umsim::ToUtf8(umsim::WideText(pswzServerName));
    if (host.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    if (!std::all_of(host.begin(), host.end(), umsim::IsServerNameChar)) {
        SetLastError(ERROR_WINHTTP_INVALID_URL);
        return NULL;
    }
    auto connection = std::make_shared<umsim::InternetConnection>();
    connection->session = std::move(session);
    connection->host = std::move(host);
    connection->port = nServerPort == INTERNET_DEFAULT_PORT ? INTERNET_DEFAULT_HTTP_PORT : nServerPort;
    return umsim::InsertHandle(std::move(connection));
}

BOOL WINAPI WinHttpCloseHandle(HINTERNET hInternet)
{
    auto object = umsim::LookupHandle(hInternet, "WinHttpCloseHandle");
    if (!object) return FALSE;
    if (!umsim::IsInternetKind(object->Kind())) {
        umsim::ReportHandleMisuse(hInternet, "WinHttpCloseHandle",
                                  std::string("a ") + umsim::KindName(object->Kind()) + " is not a WinHTTP handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object.reset();
    return umsim::RemoveHandle(hInternet, "WinHttpCloseHandle") ? TRUE : FALSE;
}
