// URLDownloadToFileA for http:// URLs: the body goes into the file as it
// arrives, and the caller's binding callback hears of every step. A
// callback that answers anything but S_OK stops the download there, and
// the call returns E_ABORT, as does IBinding::Abort; whatever reached the
// file stays, as it does on Windows. Redirects to http:// URLs are followed.
#include <windows.h>
#include <urlmon.h>

#include "um/urlmon/downloadbinding.h"
#include "um/http/httpexchange.h"
#include "um/http/httprequestwriter.h"
#include "um/http/httpurl.h"
#include "um/kernel32/filepaths.h"
#include "um/textconversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace umsim {
namespace {

constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 10.0)";
constexpr int kMaxRedirects = 10;

HRESULT DownloadError(HttpFailure failure)
{
    switch (failure) {
    case HttpFailure::None: return S_OK;
    case HttpFailure::NameNotResolved: return INET_E_RESOURCE_NOT_FOUND;
    case HttpFailure::CannotConnect: return INET_E_CANNOT_CONNECT;
    case HttpFailure::Timeout: return INET_E_CONNECTION_TIMEOUT;
    case HttpFailure::ConnectionError:
    case HttpFailure::InvalidResponse: return INET_E_DOWNLOAD_FAILURE;
    }
    return INET_E_DOWNLOAD_FAILURE;
}

HRESULT UrlError(UrlProblem problem)
{
    return problem == UrlProblem::NotHttp ? INET_E_UNKNOWN_PROTOCOL : INET_E_INVALID_URL;
}

bool IsRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

// The target file, created or emptied; closed with the object.
class TargetFile {
public:
    ~TargetFile()
    {
        if (m_fd >= 0) close(m_fd);
    }
    HRESULT Create(const std::string& hostPath)
    {
        m_fd = open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_fd >= 0) return S_OK;
        return HRESULT_FROM_WIN32(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    }
    HRESULT Write(const char* bytes, size_t size)
    {
        while (size) {
            ssize_t written = write(m_fd, bytes, size);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
            bytes += written;
            size -= size_t(written);
        }
        return S_OK;
    }

private:
    int m_fd = -1;
};

// One download from its first request to its last byte.
class Download {
public:
    Download(IBindStatusCallback* callback, const DownloadBinding& binding, std::string url)
        : m_callback(callback), m_binding(binding), m_url(std::move(url))
    {
    }

    HRESULT Run(const std::string& hostFile)
    {
        HttpExchange exchange;
        HRESULT hr = Fetch(exchange);
        if (hr != S_OK) return hr;
        const HttpResponseParser& response = exchange.Response();
        ULONG total = ULONG(std::min<uint64_t>(response.ContentLength().value_or(0), ULONG_MAX));
        TargetFile file;
        if ((hr = file.Create(hostFile)) != S_OK) return hr;
        if ((hr = Progress(0, total, BINDSTATUS_BEGINDOWNLOADDATA)) != S_OK) return hr;
        ULONG received = 0;
        for (;;) {
            size_t available = 0;
            if (HttpFailure failure = exchange.WaitForBody(&available); failure != HttpFailure::None)
                return DownloadError(failure);
            if (!available) break;
            char buffer[64 * 1024];
            size_t count = exchange.ReadBody(buffer, sizeof buffer);
            if ((hr = file.Write(buffer, count)) != S_OK) return hr;
            received = ULONG(std::min<uint64_t>(uint64_t(received) + count, ULONG_MAX));
            if ((hr = Progress(received, total, BINDSTATUS_DOWNLOADINGDATA)) != S_OK) return hr;
        }
        return Progress(received, total, BINDSTATUS_ENDDOWNLOADDATA);
    }

    // The caller's answer as the download's result: S_OK goes on, anything
    // else is a cancel.
    HRESULT Progress(ULONG progress, ULONG maximum, BINDSTATUS status)
    {
        HRESULT answer = S_OK;
        if (m_callback) answer = m_callback->OnProgress(progress, maximum, status, FromAnsi(m_url).c_str());
        // The callback itself may have aborted through the binding.
        return answer == S_OK && !m_binding.Aborted() ? S_OK : E_ABORT;
    }

private:
    // Sends the request and reads the response head, following redirects;
    // a status of 400 or more is a failure.
    HRESULT Fetch(HttpExchange& exchange)
    {
        for (int redirects = 0;; ++redirects) {
            UrlProblem problem;
            auto parts = ParseHttpUrl(m_url, &problem);
            if (!parts) return UrlError(problem);
            HRESULT hr;
            if ((hr = Progress(0, 0, BINDSTATUS_FINDINGRESOURCE)) != S_OK ||
                (hr = Progress(0, 0, BINDSTATUS_CONNECTING)) != S_OK)
                return hr;
            HttpRequestHead head;
            head.target = EscapeRequestTarget(parts->target);
            head.headers = {{"Accept", "*/*"},
                            {"User-Agent", kUserAgent},
                            {"Host", HostHeaderValue(parts->host, parts->port)},
                            {"Connection", "Keep-Alive"}};
            HttpFailure failure = exchange.Send(parts->host, parts->port, FormatRequestHead(head));
            if (failure == HttpFailure::None) {
                if ((hr = Progress(0, 0, BINDSTATUS_SENDINGREQUEST)) != S_OK) return hr;
                failure = exchange.ReceiveHead();
            }
            if (failure != HttpFailure::None) return DownloadError(failure);
            int status = exchange.Response().StatusCode();
            auto location = exchange.Response().Header("Location");
            if (IsRedirect(status) && location && !location->empty() && redirects < kMaxRedirects) {
                // A path alone stays on the same server.
                m_url = location->front() == '/' ? "http://" + HostHeaderValue(parts->host, parts->port) +
                                                       std::string(*location)
                                                 : std::string(*location);
                if ((hr = Progress(0, 0, BINDSTATUS_REDIRECTING)) != S_OK) return hr;
                continue;
            }
            if (status == 404 || status == 410) return INET_E_RESOURCE_NOT_FOUND;
            if (status >= 300) return INET_E_DOWNLOAD_FAILURE;
            return S_OK;
        }
    }

    IBindStatusCallback* m_callback;  // the caller's; not reference counted here
    const DownloadBinding& m_binding;
    std::string m_url;                // the URL being fetched (changes on a redirect)
};

}  // namespace
}  // namespace umsim

HRESULT URLDownloadToFileA(LPUNKNOWN pCaller, LPCSTR szURL, LPCSTR szFileName, DWORD dwReserved,
                           LPBINDSTATUSCALLBACK lpfnCB)
{
    (void)pCaller;
    if (!szURL || !szFileName || dwReserved) return E_INVALIDARG;
    auto hostFile = umsim::HostFilePath(szFileName);
    if (!hostFile) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    umsim::UrlProblem problem;
    if (!umsim::ParseHttpUrl(szURL, &problem)) return umsim::UrlError(problem);
    // Held by the download, and by the caller for as long as it wants.
    auto* binding = new umsim::DownloadBinding;
    HRESULT hr = S_OK;
    if (lpfnCB) {
        BINDINFO info{};
        info.cbSize = sizeof info;
        DWORD flags = 0;
        lpfnCB->GetBindInfo(&flags, &info);
        if (lpfnCB->OnStartBinding(0, binding) != S_OK) hr = E_ABORT;
        LONG priority = 0;
        if (hr == S_OK) lpfnCB->GetPriority(&priority);
    }
    if (hr == S_OK) hr = umsim::Download(lpfnCB, *binding, szURL).Run(*hostFile);
    if (lpfnCB) lpfnCB->OnStopBinding(hr, NULL);
    binding->Release();
    return hr;
}
