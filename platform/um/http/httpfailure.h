// How an HTTP exchange can fail, in the client's own terms; WinHTTP and
// the URL download each map these to their published codes.
#pragma once

namespace umsim {

enum class HttpFailure {
    None,
    NameNotResolved,   // no address for the host name
    CannotConnect,     // nothing accepted the connection
    ConnectionError,   // the connection broke (or closed inside the body)
    InvalidResponse,   // the server's bytes are not an HTTP/1.x response
    Timeout,           // the server went quiet
};

}  // namespace umsim
