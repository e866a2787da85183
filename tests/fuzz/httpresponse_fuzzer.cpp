// Feeds arbitrary bytes to the HTTP response reader twice, whole and in
// pieces whose sizes the input chooses, taking the body in pieces too:
// both reads must agree on the body and the outcome, and the body can
// never hold more than the bytes that came in.
#include "um/http/httpresponseparser.h"

#include "fuzzinput.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

struct Outcome {
    std::string body;
    bool complete, failed, truncated;
    bool operator==(const Outcome&) const = default;
};

Outcome Read(std::string_view bytes, bool responseToHead, uint32_t splits)
{
    umsim::HttpResponseParser parser(responseToHead);
    Outcome outcome{};
    char buffer[64];
    while (!bytes.empty()) {
        size_t piece = splits ? 1 + splits % 13 : bytes.size();
        splits = splits / 13 + (splits ? splits * 7 % 5 : 0);
        piece = piece < bytes.size() ? piece : bytes.size();
        parser.Feed(bytes.substr(0, piece));
        bytes.remove_prefix(piece);
        outcome.body.append(buffer, parser.TakeBody(buffer, 1 + piece % sizeof buffer));
    }
    parser.FeedEnd();
    while (size_t taken = parser.TakeBody(buffer, sizeof buffer)) outcome.body.append(buffer, taken);
    outcome.complete = parser.Complete();
    outcome.failed = parser.Failed();
    outcome.truncated = parser.Truncated();
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const bool responseToHead = Take<uint8_t>(data, size) & 1;
    const uint32_t splits = Take<uint32_t>(data, size);
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Outcome whole = Read(bytes, responseToHead, 0);
    Outcome pieces = Read(bytes, responseToHead, splits);
    if (whole.body.size() > size || whole.complete == whole.failed) __builtin_trap();
    if (!(whole == pieces)) __builtin_trap();
    return 0;
}
