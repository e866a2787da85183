#include "updateanswer.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

void ReadAnswerValue(const char* text, const char* key, char* value, size_t capacity)
{
    value[0] = '\0';
    const size_t keyLength = strlen(key);
    const char* found = text;
    for (;;) {
        found = strstr(found, key);
        if (!found) return;
        if (found[keyLength] == '=') break;
        ++found;
    }
    const char* start = found + keyLength + 1;
    const char* end = strchr(found, '\n');
    if (!end) {
        // The last line without a line feed: its last character is not part
        // of the value. A value that would end before it starts is empty.
        end = text + strlen(text) - 1;
        if (end < start) return;
    }
    size_t length = size_t(end - start);
    if (length >= capacity) length = capacity - 1;
    memcpy(value, start, length);
    value[length] = '\0';
}

namespace {

// atoi's reading as Windows' C runtime does it: white space, a sign, digits;
// anything else is 0, and a number out of range stays at the range's end (so
// a huge verdict never wraps round to 0).
int ReadVerdict(const char* text)
{
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return int(value);
}

}  // namespace

void ReadUpdateAnswer(const char* text, UpdateAnswer* answer)
{
    char verdict[kAnswerBufferSize];
    ReadAnswerValue(text, "ReturnCode", verdict, sizeof verdict);
    answer->returnCode = ReadVerdict(verdict);
    ReadAnswerValue(text, "DownloadURL", answer->downloadUrl, sizeof answer->downloadUrl);
    ReadAnswerValue(text, "UpdateVersion", answer->updateVersion, sizeof answer->updateVersion);
}

bool OffersUpdate(const UpdateAnswer& answer) { return answer.returnCode == 0 && answer.downloadUrl[0] != '\0'; }
