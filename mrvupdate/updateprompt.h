// The question put to the user when an update is on offer.
#pragma once

#include <stddef.h>

#include "updateanswer.h"

// Room for the prompt: three texts of the string table and the version.
constexpr size_t kPromptCapacity = 3 * 260 + kAnswerBufferSize + 8;

// "An update is available for this software (version 2.0).  Do you want to
// download and install it?"; without the parenthesis when the version is "".
void BuildUpdatePrompt(const char* updateVersion, char* prompt, size_t capacity);

// Shows the prompt over the parent window; true when the user answers Yes.
bool UserWantsUpdate(void* parentWindow, const char* updateVersion);
