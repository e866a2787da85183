// A WinHTTP request: opened on a connection, sent, its response head
// received, its body read. Redirects are not followed: a 3xx answer
// reaches the caller as it came.
#include "um/winhttp/internethandles.h"

#include "um/http/httpsyntax.h"
#include "um/textconversion.h"

#include <cstdlib>
#include <cstring>

namespace umsim {
namespace {

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHttpVersion(const std::string& text)
{
    return text.size() == 8 && text.compare(0, 5, "HTTP/") == 0 && IsDigit(text[5]) && text[6] == '.' &&
           IsDigit(text[7]);
}

// The caller's extra header lines ("Name: value", separated by CR LF); a
// line without a name, or with a stray line break, is refused.
bool AddHeaderLines(const std::string& text, HttpRequestHead& head)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 2;
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos || !IsHttpToken(line.substr(0, colon)) ||
            line.find_first_of("\r\n") != std::string::npos)
            return false;
        size_t value = line.find_first_not_of(' ', colon + 1);
        head.headers.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
    }
    return true;
}

// The request handle in the stage the routine needs; sets the error
// otherwise. Returns with the request's lock held.
std::shared_ptr<InternetRequest> RequestInStage(HINTERNET handle, const char* routine, InternetRequest::Stage stage,
                                                std::unique_lock<std::mutex>& lock)
{
    auto request = LookUpInternetHandle<InternetRequest>(handle, ObjectKind::InternetRequest, routine);
    if (!request) return nullptr;
    lock = std::unique_lock(request->mutex);
    if (request->stage != stage) {
        SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
        return nullptr;
    }
    return request;
}

}  // namespace
}  // namespace umsim

using umsim::InternetRequest;

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                                    LPCWSTR pwszVersion, LPCWSTR pwszReferrer, LPCWSTR* ppwszAcceptTypes,
                                    DWORD dwFlags)
{
    auto connection = umsim::LookUpInternetHandle<umsim::InternetConnection>(
        hConnect, umsim::ObjectKind::InternetConnection, "WinHttpOpenRequest");
    if (!connection) return NULL;
    // Without TLS, a secure request could only be sent in the clear.
    if (dwFlags & WINHTTP_FLAG_SECURE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    auto request = std::make_shared<InternetRequest>();
    umsim::HttpRequestHead& head = request->head;
    if (pwszVerb) head.method = umsim::ToUtf8(pwszVerb);
    if (pwszVersion) head.version = umsim::ToUtf8(pwszVersion);
    std::string target = umsim::ToUtf8(umsim::WideText(pwszObjectName));
    if (target.empty() || target.front() != '/') target.insert(0, 1, '/');
    // Even unescaped, a target must not break the request line.
    head.target = (dwFlags & WINHTTP_FLAG_ESCAPE_DISABLE) && target.find_first_of("\r\n ") == std::string::npos
                      ? target
                      : umsim::EscapeRequestTarget(target);
    if (!umsim::IsHttpToken(head.method) || !umsim::IsHttpVersion(head.version)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }

    std::string accept, referrer = umsim::ToUtf8(umsim::WideText(pwszReferrer));
    for (LPCWSTR* type = ppwszAcceptTypes; type && *type; ++type)
        accept += (accept.empty() ? "" : ", ") + umsim::ToUtf8(*type);
    if (accept.find_first_of("\r\n") != std::string::npos || referrer.find_first_of("\r\n") != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    head.headers.emplace_back("Connection", "Keep-Alive");
    if (!accept.empty()) head.headers.emplace_back("Accept", accept);
    if (!connection->session->agent.empty()) head.headers.emplace_back("User-Agent", connection->session->agent);
    if (!referrer.empty()) head.headers.emplace_back("Referer", referrer);
    request->connection = std::move(connection);
    return umsim::InsertHandle(std::move(request));
}

BOOL WINAPI WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                               DWORD dwOptionalLength, DWORD dwTotalLength, DWORD_PTR dwContext)
{
    (void)dwContext;
    auto request =
        umsim::LookUpInternetHandle<InternetRequest>(hRequest, umsim::ObjectKind::InternetRequest, "WinHttpSendRequest");
    if (!request) return FALSE;
    std::lock_guard lock(request->mutex);
    // A request may be sent again (a new exchange); until this one
    // succeeds it has no response.
    request->stage = InternetRequest::Stage::Opened;

    umsim::HttpRequestHead head = request->head;
    const umsim::InternetConnection& connection = *request->connection;
    if ((dwOptionalLength && !lpOptional) || dwTotalLength < dwOptionalLength) return umsim::Fail(ERROR_INVALID_PARAMETER);
    // The rest of a longer body would come through WinHttpWriteData, which is not offered.
    if (dwTotalLength > dwOptionalLength) return umsim::Fail(ERROR_NOT_SUPPORTED);
    if (dwTotalLength || head.method == "POST" || head.method == "PUT")
        head.headers.emplace_back("Content-Length", std::to_string(dwTotalLength));
    head.headers.emplace_back("Host", umsim::HostHeaderValue(connection.host, connection.port));
    if (lpszHeaders) {
        std::u16string extra = dwHeadersLength == DWORD(-1) ? umsim::WideText(lpszHeaders)
                                                            : std::u16string(lpszHeaders, dwHeadersLength);
        if (!umsim::AddHeaderLines(umsim::ToUtf8(extra), head)) return umsim::Fail(ERROR_INVALID_PARAMETER);
    }
    std::string bytes = umsim::FormatRequestHead(head);
    bytes.append(static_cast<const char*>(lpOptional), dwOptionalLength);
    umsim::HttpFailure failure =
        request->exchange.Send(connection.host, connection.port, bytes, head.method == "HEAD");
    if (failure != umsim::HttpFailure::None) return umsim::Fail(umsim::WinHttpError(failure));
    request->stage = InternetRequest::Stage::Sent;
    return TRUE;
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved)
{
    if (lpReserved) return umsim::Fail(ERROR_INVALID_PARAMETER);
    std::unique_lock<std::mutex> lock;
    auto request = umsim::RequestInStage(hRequest, "WinHttpReceiveResponse", InternetRequest::Stage::Sent, lock);
    if (!request) return FALSE;
    umsim::HttpFailure failure = request->exchange.ReceiveHead();
    if (failure != umsim::HttpFailure::None) {
        request->stage = InternetRequest::Stage::Opened;
        return umsim::Fail(umsim::WinHttpError(failure));
    }
    request->stage = InternetRequest::Stage::ResponseReceived;
    return TRUE;
}

BOOL WINAPI WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName, LPVOID lpBuffer,
                                LPDWORD lpdwBufferLength, LPDWORD lpdwIndex)
{
    (void)pwszName, (void)lpdwIndex;
    std::unique_lock<std::mutex> lock;
    auto request =
        umsim::RequestInStage(hRequest, "WinHttpQueryHeaders", InternetRequest::Stage::ResponseReceived, lock);
    if (!request) return FALSE;
    if (!lpdwBufferLength) return umsim::Fail(ERROR_INVALID_PARAMETER);
    const umsim::HttpResponseParser& response = request->exchange.Response();
    std::string text;
    switch (dwInfoLevel & ~DWORD(WINHTTP_QUERY_FLAG_NUMBER)) {
    case WINHTTP_QUERY_STATUS_CODE: text = std::to_string(response.StatusCode()); break;
    case WINHTTP_QUERY_STATUS_TEXT: text = response.Reason(); break;
    case WINHTTP_QUERY_CONTENT_LENGTH:
        if (auto length = response.Header("Content-Length")) {
            text = *length;
            break;
        }
        return umsim::Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    default: return umsim::Fail(ERROR_NOT_SUPPORTED);  // only the levels above are offered
    }
    if (dwInfoLevel & WINHTTP_QUERY_FLAG_NUMBER) {
        if (*lpdwBufferLength < sizeof(DWORD) || !lpBuffer) {
            *lpdwBufferLength = sizeof(DWORD);
            return umsim::Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        DWORD number = DWORD(strtoul(text.c_str(), nullptr, 10));
        memcpy(lpBuffer, &number, sizeof number);
        *lpdwBufferLength = sizeof number;
        return TRUE;
    }
    // Text: the length in bytes, without the terminator on success and
    // with it when the buffer is too small.
    std::u16string wide = umsim::FromUtf8(text);
    DWORD bytes = DWORD(wide.size() * sizeof(WCHAR));
    if (*lpdwBufferLength < bytes + sizeof(WCHAR) || !lpBuffer) {
        *lpdwBufferLength = bytes + sizeof(WCHAR);
        return umsim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(lpBuffer, wide.c_str(), bytes + sizeof(WCHAR));
    *lpdwBufferLength = bytes;
    return TRUE;
}

BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable)
{
    std::unique_lock<std::mutex> lock;
    auto request =
        umsim::RequestInStage(hRequest, "WinHttpQueryDataAvailable", InternetRequest::Stage::ResponseReceived, lock);
    if (!request) return FALSE;
    size_t available = 0;
    umsim::HttpFailure failure = request->exchange.WaitForBody(&available);
    if (failure != umsim::HttpFailure::None) return umsim::Fail(umsim::WinHttpError(failure));
    if (lpdwNumberOfBytesAvailable) *lpdwNumberOfBytesAvailable = DWORD(std::min<size_t>(available, 0xFFFFFFFF));
    return TRUE;
}

BOOL WINAPI WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                            LPDWORD lpdwNumberOfBytesRead)
{
    std::unique_lock<std::mutex> lock;
    auto request = umsim::RequestInStage(hRequest, "WinHttpReadData", InternetRequest::Stage::ResponseReceived, lock);
    if (!request) return FALSE;
    if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead)) return umsim::Fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    size_t available = 0;
    umsim::HttpFailure failure = request->exchange.WaitForBody(&available);
    if (failure != umsim::HttpFailure::None) return umsim::Fail(umsim::WinHttpError(failure));
    *lpdwNumberOfBytesRead = DWORD(request->exchange.ReadBody(lpBuffer, dwNumberOfBytesToRead));
    return TRUE;
}
