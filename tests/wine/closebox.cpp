// Answers a message box as its user would, for checks that run a program
// under Wine with no one at the screen: waits for the top-level window with
// the given caption, prints the box's text, presses its OK button and
// exits 0; exits 1 when no such window appears within the time given.
//   closebox "caption" [seconds]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: closebox \"caption\" [seconds]\n");
        return 2;
    }
    const int seconds = argc > 2 ? atoi(argv[2]) : 60;
    // The box has no event another process could wait on; look for it
    // every tenth of a second.
    for (int tries = 0; tries < seconds * 10; ++tries) {
        HWND box = FindWindowA(NULL, argv[1]);
        if (box) {
            char text[1024] = "";
            // A message box's text is the static control 0xFFFF.
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            printf("%s\n", text);
            fflush(stdout);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            return 0;
        }
        Sleep(100);
    }
    fprintf(stderr, "closebox: no window \"%s\" within %d s\n", argv[1], seconds);
    return 1;
}
