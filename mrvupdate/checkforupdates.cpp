// CheckForUpdates, the library's one export: asks the update server about
// the caller's brand, product and version, and when the server offers an
// update, asks the user, downloads the installer and starts it.
#include <windows.h>

#include "updateanswer.h"
#include "updatedownload.h"
#include "updateprompt.h"
#include "versionquery.h"

// 0: an update was offered, accepted, downloaded and started. 1: none is
// offered, or its download or start failed. -1: the server was not reached
// or did not answer, the user declined, or no download folder could be made.
extern "C" int __cdecl CheckForUpdates(HWND parentWindow, const char* brand, int productId, const char* version)
{
    WCHAR path[MAX_PATH];
    FormatVersionCheckPath(brand, productId, version, path, MAX_PATH);
    char text[kAnswerBufferSize];
    UpdateAnswer answer;
    if (!QueryUpdateServer(path, text)) return -1;
    ReadUpdateAnswer(text, &answer);
    if (!OffersUpdate(answer)) return 1;
    if (!UserWantsUpdate(parentWindow, answer.updateVersion)) return -1;
    return DownloadAndStartInstaller(parentWindow, answer.downloadUrl);
}
