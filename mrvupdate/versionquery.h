// The question to the update server: one HTTP GET of the version-check path
// for a brand, product and version, and the answer's text.
#pragma once

#include <windows.h>

#include "updateanswer.h"

// The server's host name; the real build names the real server.
#ifndef MRV_UPDATE_SERVER
#define MRV_UPDATE_SERVER "updates.marvolan.example"
#endif

// The request path for the query: the brand and version as given (each at
// most 63 characters), nothing URL-encoded, cut to 259 characters.
void FormatVersionCheckPath(const char* brand, int productId, const char* version, WCHAR* path, size_t capacity);

// Asks the server and reads its answer's body into text (kAnswerBufferSize
// bytes, terminated; bytes past the buffer are dropped; the HTTP status is
// not looked at). False when the server could not be asked or did not answer.
bool QueryUpdateServer(const WCHAR* path, char* text);
