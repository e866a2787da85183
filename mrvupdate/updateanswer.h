// The update server's answer: plain text of key=value lines, of which three
// keys matter. Pure text handling, apart so the fuzz target takes it alone.
#pragma once

#include <stddef.h>

// The answer is read into this many bytes, the last always a terminator.
constexpr size_t kAnswerBufferSize = 4096;

// What the checker takes from an answer. The texts are cut from the answer,
// so they fit in its size.
struct UpdateAnswer {
    int returnCode;                         // 0: an update is on offer
    char downloadUrl[kAnswerBufferSize];    // the installer's URL; "" when absent
    char updateVersion[kAnswerBufferSize];  // shown to the user; may be ""
};

// The value of the first "key=" anywhere in the text (case-sensitive, not
// necessarily at a line's start), up to the line feed that ends its line.
// Nothing is trimmed. A value on a last line without a line feed loses its
// last character, as the server's peers expect. "" when the key is absent.
// The text must be terminated; value holds capacity bytes (at least 1).
void ReadAnswerValue(const char* text, const char* key, char* value, size_t capacity);

// Reads the three keys of a terminated answer text.
void ReadUpdateAnswer(const char* text, UpdateAnswer* answer);

// An update is offered when the verdict reads as 0 and there is a URL.
bool OffersUpdate(const UpdateAnswer& answer);
