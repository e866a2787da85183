// Where a downloaded installer lands: a new folder of a unique name in the
// user's temporary folder, left there afterwards.
#pragma once

#include <windows.h>

// Makes the folder; false when it cannot be made.
bool MakeDownloadFolder(char (&folder)[MAX_PATH]);

// The folder joined with the URL's text after its last "/" (the folder
// itself when the URL has none, so the download fails). False when the
// joined path would not fit in MAX_PATH.
bool DownloadTargetPath(const char* folder, const char* url, char (&target)[MAX_PATH]);
