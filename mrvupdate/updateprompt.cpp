#include "updateprompt.h"

#include <windows.h>

#include <string.h>

#include "resource.h"
#include "updatemodule.h"

namespace {

constexpr size_t kStringCapacity = 260;

void AppendString(UINT id, char* prompt, size_t capacity)
{
    char text[kStringCapacity];
    if (LoadStringA(g_updateModule, id, text, sizeof text) <= 0) text[0] = '\0';
    strcat_s(prompt, capacity, text);
}

}  // namespace

void BuildUpdatePrompt(const char* updateVersion, char* prompt, size_t capacity)
{
    // The capacity holds every piece, so the joins never overflow.
    prompt[0] = '\0';
    AppendString(IDS_UPDATE_AVAILABLE, prompt, capacity);
    if (updateVersion[0] != '\0') {
        strcat_s(prompt, capacity, " (");
        AppendString(IDS_VERSION, prompt, capacity);
        strcat_s(prompt, capacity, " ");
        strcat_s(prompt, capacity, updateVersion);
        strcat_s(prompt, capacity, ")");
    }
    strcat_s(prompt, capacity, ".  ");
    AppendString(IDS_DOWNLOAD_QUESTION, prompt, capacity);
}

bool UserWantsUpdate(void* parentWindow, const char* updateVersion)
{
    char prompt[kPromptCapacity];
    BuildUpdatePrompt(updateVersion, prompt, sizeof prompt);
    return MessageBoxA(static_cast<HWND>(parentWindow), prompt, "Software Update", MB_YESNO) == IDYES;
}
