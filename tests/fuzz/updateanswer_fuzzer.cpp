// Arbitrary bytes as the update server's answer, cut as the checker cuts it:
// every value read is a piece of the text that follows its "key=", the
// verdict and the offer agree with it, and nothing is read past the text.
#include "updateanswer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The value as the rules give it, found with the standard library alone.
std::string Expected(const std::string& text, const std::string& key)
{
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) return "";
    size_t start = at + key.size() + 1;
    size_t end = text.find('\n', at);
    if (end == std::string::npos) {
        if (text.size() - 1 < start) return "";
        end = text.size() - 1;
    }
    return text.substr(start, end - start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The body as the checker stores it: at most 4095 bytes, then zeros, in a
    // buffer of its own size so reading past it is caught.
    std::vector<char> body(kAnswerBufferSize, '\0');
    memcpy(body.data(), data, size < kAnswerBufferSize - 1 ? size : kAnswerBufferSize - 1);
    const std::string text(body.data());

    auto* answer = new UpdateAnswer;
    ReadUpdateAnswer(body.data(), answer);
    if (Expected(text, "DownloadURL") != answer->downloadUrl) __builtin_trap();
    if (Expected(text, "UpdateVersion") != answer->updateVersion) __builtin_trap();
    if (OffersUpdate(*answer) != (answer->returnCode == 0 && answer->downloadUrl[0] != '\0')) __builtin_trap();
    delete answer;
    return 0;
}
