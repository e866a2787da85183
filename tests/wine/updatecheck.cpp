// The update checker as an installer calls it, under Wine: this program
// serves the update server on the loopback address (Wine resolves host
// names through the host's resolver, so the server is reached as the
// session's proxy), opens a window of its own, calls CheckForUpdates from
// mrvupdate.dll through a cdecl pointer, answers the prompt as the user,
// and reports what the server saw and what the checker did.
//   updatecheck.exe mrvupdate.dll installer.exe [yes|no] [pause-ms]
// Prints the request line and Host header the server received, the result,
// whether the window was left hidden and whether the installer ran; exits 0
// when all of it is as expected for the answer given.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef int(__cdecl* CheckForUpdatesRoutine)(HWND, const char*, int, const char*);

const char kServer[] = "updates.marvolan.example";
const char kMark[] = "C:\\mrv-installer-started.txt";

std::vector<char> g_installer;  // the stand-in's bytes, served as the download
int g_pauseMs = 0;              // halfway through the download, and before answering
std::string g_requests;         // request lines and Host headers, in order; the server thread's

bool ReadFileBytes(const char* path, std::vector<char>& bytes)
{
    FILE* file = fopen(path, "rb");
    if (!file) return false;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(file);
    return true;
}

void SendAll(SOCKET client, const char* data, size_t size)
{
    while (size > 0) {
        int sent = send(client, data, int(size), 0);
        if (sent <= 0) return;
        data += sent;
        size -= size_t(sent);
    }
}

// One request per connection: the version check's answer, or the installer.
void Serve(SOCKET client)
{
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && recv(client, &c, 1, 0) == 1) head += c;
    std::string line = head.substr(0, head.find("\r\n"));
    size_t host = head.find("\r\nHost: ");
    g_requests += line + "\n";
    if (host != std::string::npos) g_requests += "Host: " + head.substr(host + 8, head.find("\r\n", host + 2) - host - 8) + "\n";

    if (line.find("/versioncheck/") != std::string::npos) {
        std::string body = std::string("ReturnCode=0\nDownloadURL=http://") + kServer +
                           "/files/mrvsetup.exe\nUpdateVersion=2.0\n";
        std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        SendAll(client, reply.data(), reply.size());
    } else if (line.find("/files/mrvsetup.exe") != std::string::npos) {
        std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                            std::to_string(g_installer.size()) + "\r\nConnection: close\r\n\r\n";
        SendAll(client, reply.data(), reply.size());
        size_t half = g_installer.size() / 2;
        SendAll(client, g_installer.data(), half);
        Sleep(DWORD(g_pauseMs));
        SendAll(client, g_installer.data() + half, g_installer.size() - half);
    } else {
        const char reply[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        SendAll(client, reply, sizeof reply - 1);
    }
    shutdown(client, SD_SEND);
    closesocket(client);
}

DWORD WINAPI ServerThread(LPVOID parameter)
{
    SOCKET listener = SOCKET(reinterpret_cast<UINT_PTR>(parameter));
    for (;;) {
        SOCKET client = accept(listener, NULL, NULL);
        if (client == INVALID_SOCKET) return 0;
        Serve(client);
    }
}

// The user: waits for the prompt (a box with a Yes button) and answers it.
DWORD WINAPI AnswerThread(LPVOID parameter)
{
    const int answer = int(reinterpret_cast<INT_PTR>(parameter));
    for (int tries = 0; tries < 600; ++tries) {
        HWND box = FindWindowA("#32770", "Software Update");
        HWND button = box ? GetDlgItem(box, answer) : NULL;
        if (button) {
            Sleep(DWORD(g_pauseMs));
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), LPARAM(button));
            return 0;
        }
        Sleep(50);
    }
    return 1;
}

// The proxy through which WinHTTP and the URL download reach the server.
bool UseProxy(unsigned short port)
{
    char server[32];
    snprintf(server, sizeof server, "127.0.0.1:%u", port);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS) {
        return false;
    }
    DWORD enable = 1;
    RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
    RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server), DWORD(strlen(server) + 1));
    RegCloseKey(key);
    wchar_t wideServer[32];
    MultiByteToWideChar(CP_ACP, 0, server, -1, wideServer, 32);
    WINHTTP_PROXY_INFO proxy = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, wideServer, const_cast<wchar_t*>(L"<local>")};
    return WinHttpSetDefaultProxyConfiguration(&proxy) != FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: updatecheck mrvupdate.dll installer.exe [yes|no] [pause-ms]\n");
        return 2;
    }
    const bool yes = argc < 4 || strcmp(argv[3], "no") != 0;
    g_pauseMs = argc > 4 ? atoi(argv[4]) : 0;
    if (!ReadFileBytes(argv[2], g_installer)) {
        fprintf(stderr, "updatecheck: cannot read %s\n", argv[2]);
        return 2;
    }
    DeleteFileA(kMark);

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fprintf(stderr, "updatecheck: no loopback socket\n");
        return 2;
    }
    if (!UseProxy(ntohs(address.sin_port))) {
        fprintf(stderr, "updatecheck: cannot set the proxy (error %lu)\n", GetLastError());
        return 2;
    }
    CloseHandle(CreateThread(NULL, 0, ServerThread, reinterpret_cast<LPVOID>(UINT_PTR(listener)), 0, NULL));

    HWND window = CreateWindowExA(0, "STATIC", "Marvolan Installer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 320,
                                  200, NULL, NULL, GetModuleHandleA(NULL), NULL);
    HMODULE module = LoadLibraryA(argv[1]);
    auto check = module ? reinterpret_cast<CheckForUpdatesRoutine>(
                              reinterpret_cast<void (*)()>(GetProcAddress(module, "CheckForUpdates")))
                        : nullptr;
    if (!window || !check) {
        fprintf(stderr, "updatecheck: no window or no CheckForUpdates in %s\n", argv[1]);
        return 2;
    }
    CloseHandle(CreateThread(NULL, 0, AnswerThread, reinterpret_cast<LPVOID>(INT_PTR(yes ? IDYES : IDNO)), 0, NULL));

    const int result = check(window, "Marvolan", 16, "1.5.4");
    bool started = false;
    for (int tries = 0; yes && result == 0 && tries < 100 && !started; ++tries) {
        started = GetFileAttributesA(kMark) != INVALID_FILE_ATTRIBUTES;
        if (!started) Sleep(100);
    }
    const bool hidden = !IsWindowVisible(window);
    printf("%sresult %d\nwindow %s\ninstaller %s\n", g_requests.c_str(), result, hidden ? "hidden" : "shown",
           started ? "started" : "not started");
    closesocket(listener);
    // Through the proxy the request line carries the absolute URL.
    const bool asked = g_requests.find(std::string("GET http://") + kServer +
                                       "/versioncheck/?OSType=Windows&Brand=Marvolan&ProductId=16&Version=1.5.4 "
                                       "HTTP/1.1\nHost: " + kServer + "\n") == 0;
    const bool expected = asked && (yes ? result == 0 && hidden && started : result == -1 && !hidden && !started);
    return expected ? 0 : 1;
}
