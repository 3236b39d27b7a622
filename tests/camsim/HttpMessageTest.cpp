// Request-head parsing, body framing, chunked decoding and query helpers of the simulator.
#include "httpserver/HttpMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace camsim {
namespace {

TEST(CHttpMessageTest, ParsesRequestLineHeadersAndQuery) {
    const std::string data =
        "GET /control/control?set&section=imagecontrol&size=640x480 HTTP/1.1\r\n"
        "Host: 127.0.0.1\r\nUser-Agent:  Velmora::HttpClient \r\n\r\nNEXT";
    RequestHead head;
    size_t consumed = 0;
    ASSERT_EQ(ParseRequestHead(data, &head, &consumed), ParseResult::Complete);
    EXPECT_EQ(consumed, data.size() - 4);  // the following bytes belong to the next request
    EXPECT_EQ(head.method, "GET");
    EXPECT_EQ(head.target, "/control/control?set&section=imagecontrol&size=640x480");
    EXPECT_EQ(head.path, "/control/control");
    EXPECT_EQ(head.query, "set&section=imagecontrol&size=640x480");
    EXPECT_EQ(head.versionMinor, 1);
    ASSERT_EQ(head.headers.size(), 2u);
    EXPECT_EQ(head.Find("user-agent").value_or(""), "Velmora::HttpClient");
    EXPECT_FALSE(head.Find("Accept").has_value());
}

TEST(CHttpMessageTest, ClassifiesHeadsTableDriven) {
    struct Row {
        const char* data;
        ParseResult expected;
    };
    const Row rows[] = {
        {"GET / HTTP/1.1\r\n", ParseResult::NeedMore},                         // no blank line yet
        {"GET / HTTP/1.1\n\n", ParseResult::Complete},                         // bare LF line ends
        {"\r\n\r\nGET / HTTP/1.0\r\n\r\n", ParseResult::Complete},             // leading empty lines
        {"GET /  HTTP/1.1\r\n\r\n", ParseResult::Malformed},                   // two spaces
        {"GET / HTTP/2.0\r\n\r\n", ParseResult::Malformed},                    // unknown version
        {"G(T / HTTP/1.1\r\n\r\n", ParseResult::Malformed},                    // method not a token
        {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", ParseResult::Malformed},         // header without colon
        {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", ParseResult::Malformed}, // obsolete folding
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", ParseResult::Malformed},     // space in a name
    };
    for (const Row& row : rows) {
        RequestHead head;
        size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(row.data, &head, &consumed), row.expected) << row.data;
    }
}

TEST(CHttpMessageTest, RefusesHeadsBeyondTheLimits) {
    RequestHead head;
    size_t consumed = 0;
    std::string longLine = "GET /" + std::string(kMaxRequestHeadBytes, 'a');  // no line end at all
    EXPECT_EQ(ParseRequestHead(longLine, &head, &consumed), ParseResult::TooLarge);
    std::string many = "GET / HTTP/1.1\r\n";
    for (size_t i = 0; i <= kMaxHeaderCount; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
    many += "\r\n";
    EXPECT_EQ(ParseRequestHead(many, &head, &consumed), ParseResult::TooLarge);
}

TEST(CHttpMessageTest, CompletesOnlyWithTheWholeHeadWhateverTheSplit) {
    const std::string data = "POST /control/rotorcgi HTTP/1.1\r\nContent-Length: 210000\r\n\r\n";
    for (size_t cut = 0; cut < data.size(); ++cut) {
        RequestHead head;
        size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(std::string_view(data).substr(0, cut), &head, &consumed), ParseResult::NeedMore)
            << cut;
    }
}

TEST(CHttpMessageTest, DecidesBodyFraming) {
    auto framing = [](const std::string& headers) {
        RequestHead head;
        size_t consumed = 0;
        std::string data = "POST / HTTP/1.1\r\n" + headers + "\r\n";
        EXPECT_EQ(ParseRequestHead(data, &head, &consumed), ParseResult::Complete);
        return DecideBodyFraming(head);
    };
    EXPECT_EQ(framing("").kind, BodyFraming::Kind::None);
    EXPECT_EQ(framing("Content-Length: 0\r\n").kind, BodyFraming::Kind::None);
    BodyFraming f = framing("Content-Length: 210000\r\n");
    EXPECT_EQ(f.kind, BodyFraming::Kind::Length);
    EXPECT_EQ(f.length, 210000u);
    EXPECT_EQ(framing("Transfer-Encoding: gzip, chunked\r\n").kind, BodyFraming::Kind::Chunked);
    EXPECT_EQ(framing("Transfer-Encoding: gzip\r\n").kind, BodyFraming::Kind::Invalid);
    EXPECT_EQ(framing("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n").kind, BodyFraming::Kind::Invalid);
    EXPECT_EQ(framing("Content-Length: 5\r\nContent-Length: 6\r\n").kind, BodyFraming::Kind::Invalid);
    EXPECT_EQ(framing("Content-Length: -5\r\n").kind, BodyFraming::Kind::Invalid);
    EXPECT_EQ(framing("Content-Length: 5\r\nContent-Length: 5\r\n").kind, BodyFraming::Kind::Length);
}

TEST(CHttpMessageTest, KeepAliveFollowsVersionAndConnectionHeader) {
    auto keep = [](const std::string& data) {
        RequestHead head;
        size_t consumed = 0;
        EXPECT_EQ(ParseRequestHead(data, &head, &consumed), ParseResult::Complete);
        return head.WantsKeepAlive();
    };
    EXPECT_TRUE(keep("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.1\r\nConnection: Keep-Alive, close\r\n\r\n"));
    EXPECT_FALSE(keep("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(keep("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
}

TEST(CChunkedDecoderTest, DecodesAnySplitWithExtensionsAndTrailers) {
    const std::string body = "5;ext=1\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nTrailer: x\r\n\r\nREST";
    for (size_t step = 1; step <= body.size(); ++step) {
        ChunkedDecoder decoder;
        std::string out;
        size_t used = 0;
        for (size_t at = 0; at < body.size() && !decoder.Done(); at += step) {
            size_t n = std::min(step, body.size() - at);
            used += decoder.Feed(body.data() + at, n, &out);
        }
        ASSERT_TRUE(decoder.Done()) << step;
        EXPECT_EQ(out, "helloabcdefghijklmnopqrstuvwxyz");
        EXPECT_EQ(body.substr(used), "REST") << step;
    }
}

TEST(CChunkedDecoderTest, FailsOnBrokenFraming) {
    const char* bad[] = {
        "zz\r\n",                             // not hex
        "\r\n",                               // empty size
        "3\r\nabcX\r\n",                      // data not followed by CRLF
        "FFFFFFFFFFFFFFFFFFFF\r\n",           // size beyond the limit
    };
    for (const char* text : bad) {
        ChunkedDecoder decoder;
        std::string out;
        decoder.Feed(text, std::strlen(text), &out);
        EXPECT_TRUE(decoder.Failed()) << text;
    }
    ChunkedDecoder endless;
    std::string line(kMaxChunkLineBytes + 1, '1');
    std::string out;
    endless.Feed(line.data(), line.size(), &out);
    EXPECT_TRUE(endless.Failed());
}

TEST(CHttpMessageTest, ReadsQueryItems) {
    const std::string q = "set&section=imagecontrol&size=640x480&empty=&sizes=1";
    EXPECT_EQ(QueryValue(q, "size").value_or("?"), "640x480");
    EXPECT_EQ(QueryValue(q, "section").value_or("?"), "imagecontrol");
    EXPECT_EQ(QueryValue(q, "empty").value_or("?"), "");
    EXPECT_EQ(QueryValue(q, "set").value_or("?"), "");
    EXPECT_FALSE(QueryValue(q, "siz").has_value());
    EXPECT_TRUE(QueryHasKey(q, "set"));
    EXPECT_FALSE(QueryHasKey(q, "list"));
}

}  // namespace
}  // namespace camsim
