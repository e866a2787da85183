// The accepted update: its installer downloaded into a new temporary folder
// while a small dialog shows the progress and offers Cancel, then started.
#pragma once

// Runs on the caller's thread, which keeps its messages flowing meanwhile.
// The caller's window is hidden once the download starts and stays hidden.
// 0: the installer was started; 1: the download or the start failed (a
// Cancel included); -1: the folder could not be made, or the thread's
// message loop was told to quit before the download ended.
int DownloadAndStartInstaller(void* parentWindow, const char* url);
