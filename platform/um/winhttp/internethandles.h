// WinHTTP's objects behind its handles: a session (the caller's agent), a
// connection (a server's name and port) and a request on it. A child holds
// its parent, so a caller may close a parent first, as Windows allows.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "um/handletable.h"
#include "um/http/httpexchange.h"
#include "um/http/httpfailure.h"
#include "um/http/httprequestwriter.h"

#include <memory>
#include <mutex>
#include <string>

namespace umsim {

// Fields are written once, before the handle is handed out.
struct InternetSession : HandleObject {
    InternetSession() : HandleObject(ObjectKind::InternetSession) {}
    std::string agent;  // UTF-8; empty sends no User-Agent
};

struct InternetConnection : HandleObject {
    InternetConnection() : HandleObject(ObjectKind::InternetConnection) {}
    std::shared_ptr<InternetSession> session;
    std::string host;
    uint16_t port = INTERNET_DEFAULT_HTTP_PORT;  // the Windows port
};

struct InternetRequest : HandleObject {
    InternetRequest() : HandleObject(ObjectKind::InternetRequest) {}
    enum class Stage { Opened, Sent, ResponseReceived };

    // Written once at open.
    std::shared_ptr<InternetConnection> connection;
    HttpRequestHead head;  // without Content-Length and additional headers

    // A request handle serves one call at a time; mutex keeps a second
    // caller from interleaving with the first.
    std::mutex mutex;
    Stage stage = Stage::Opened;  // guarded by mutex
    HttpExchange exchange;        // guarded by mutex
};

// The object a WinHTTP handle names. A closed handle, or one of another
// kind, is a verifier finding; the error is ERROR_INVALID_HANDLE, or
// ERROR_WINHTTP_INCORRECT_HANDLE_TYPE for a WinHTTP handle of another kind.
template <class T>
std::shared_ptr<T> LookUpInternetHandle(HINTERNET handle, ObjectKind kind, const char* routine)
{
    std::shared_ptr<HandleObject> found = PeekHandle(handle);
    bool otherInternetKind = found && IsInternetKind(found->Kind());
    return LookupHandleOf<T>(handle, kind, routine,
                             otherInternetKind ? ERROR_WINHTTP_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
}

// The WinHTTP error for a failed exchange.
DWORD WinHttpError(HttpFailure failure);

}  // namespace umsim
