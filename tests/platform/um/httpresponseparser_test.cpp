// The HTTP response reader on its own: any split of the bytes reads the
// same, framing follows the headers that rule it, and hostile sizes stop
// it with an error instead of memory.
#include "um/http/httpresponseparser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using umsim::HttpResponseParser;

std::string Drain(HttpResponseParser& parser)
{
    std::string body(parser.Buffered(), '\0');
    body.resize(parser.TakeBody(body.data(), body.size()));
    return body;
}

// Feeds the bytes in two parts at `split`, then byte by byte from
// `trickleFrom`, ends the connection, and returns the body.
std::string Read(HttpResponseParser& parser, const std::string& bytes, size_t split, bool close = true)
{
    std::string body;
    parser.Feed(bytes.substr(0, split));
    body += Drain(parser);
    for (size_t i = split; i < bytes.size(); ++i) {
        parser.Feed(bytes.substr(i, 1));
        body += Drain(parser);
    }
    if (close) parser.FeedEnd();
    return body + Drain(parser);
}

struct SplitCase {
    const char* name;
    std::string bytes;
    std::string body;
};

class ResponseSplits : public testing::TestWithParam<SplitCase> {};

TEST_P(ResponseSplits, EverySplitReadsTheSameBody)
{
    for (size_t split = 0; split <= GetParam().bytes.size(); ++split) {
        HttpResponseParser parser;
        EXPECT_EQ(Read(parser, GetParam().bytes, split), GetParam().body) << "split at " << split;
        EXPECT_TRUE(parser.Complete()) << parser.Error();
        EXPECT_EQ(parser.StatusCode(), 200);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Framings, ResponseSplits,
    testing::Values(SplitCase{"ContentLength", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
                    SplitCase{"Chunked",
                              "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"
                              "3 ; a=\"b\"\r\nhel\r\n2\r\nlo\r\n0\r\nTrailer: t\r\n\r\n",
                              "hello"},
                    SplitCase{"BareLineFeeds", "HTTP/1.0 200 OK\nContent-Length: 5\n\nhello", "hello"},
                    SplitCase{"ToTheClose", "HTTP/1.1 200 OK\r\nServer: x\r\n  folded\r\n\r\nhello", "hello"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FramingCase {
    const char* name;
    std::string bytes;
    bool responseToHead;
    std::string body;  // read while the connection stays open
    bool complete;
};

class ResponseFraming : public testing::TestWithParam<FramingCase> {};

TEST_P(ResponseFraming, FollowsTheHeadersThatRuleIt)
{
    HttpResponseParser parser(GetParam().responseToHead);
    EXPECT_EQ(Read(parser, GetParam().bytes, 0, false), GetParam().body);
    EXPECT_EQ(parser.Complete(), GetParam().complete) << parser.Error();
    EXPECT_FALSE(parser.Failed()) << parser.Error();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ResponseFraming,
    testing::Values(
        FramingCase{"HeadHasNoBody", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", true, "", true},
        FramingCase{"NoContentHasNoBody", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nhello", false, "", true},
        FramingCase{"ChunkedOverridesLength",
                    "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
                    false, "ab", true},
        FramingCase{"OtherCodingRunsToTheClose", "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n\r\nabc", false,
                    "abc", false},
        FramingCase{"RepeatedEqualLengths", "HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\n\r\nabcd", false, "ab", true},
        FramingCase{"NoReason", "HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n", false, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

class ResponseRefusals : public testing::TestWithParam<std::string> {};

TEST_P(ResponseRefusals, AreErrorsNotGuesses)
{
    HttpResponseParser parser;
    EXPECT_FALSE(parser.Feed(GetParam()));
    EXPECT_TRUE(parser.Failed());
    EXPECT_FALSE(parser.Truncated());
    EXPECT_FALSE(parser.Error().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ResponseRefusals,
    testing::Values("HTTP/2 200 OK\r\n", "HTTP/1.1 20 OK\r\n", "HTTP/1.1 200OK\r\n", "ICY 200 OK\r\n",
                    "HTTP/1.1 200 OK\r\nNo colon\r\n", "HTTP/1.1 200 OK\r\nBad Name: x\r\n",
                    "HTTP/1.1 200 OK\r\n folded first\r\n", "HTTP/1.1 200 OK\r\nA: b\rc\r\n",
                    "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
                    "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000\r\n",
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n;\r\n",
                    std::string("HTTP/1.1 200 OK\r\nA: \0\r\n", 24),
                    "HTTP/1.1 200 OK\r\nX: " + std::string(HttpResponseParser::kMaxLineBytes, 'x')));

TEST(HttpResponseParser, HeadersAreBoundedInNumber)
{
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (size_t i = 0; i <= HttpResponseParser::kMaxHeaders; ++i) head += "X: y\r\n";
    HttpResponseParser parser;
    EXPECT_FALSE(parser.Feed(head));
}

TEST(HttpResponseParser, AnEndBeforeTheFramingEndsIsTruncationAndKeepsTheBody)
{
    HttpResponseParser parser;
    EXPECT_TRUE(parser.Feed("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"));
    parser.FeedEnd();
    EXPECT_TRUE(parser.Truncated());
    EXPECT_TRUE(parser.HeadComplete());
    EXPECT_EQ(Drain(parser), "abc");
}

TEST(HttpResponseParser, HeadersAreFoundWithoutCase)
{
    HttpResponseParser parser;
    parser.Feed("HTTP/1.1 301 Moved\r\nlocation:  http://x/y \r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(parser.Header("Location"), "http://x/y");
    EXPECT_EQ(parser.Reason(), "Moved");
    EXPECT_EQ(parser.ContentLength(), 0u);
    EXPECT_EQ(parser.Header("Server"), std::nullopt);
}

}  // namespace
