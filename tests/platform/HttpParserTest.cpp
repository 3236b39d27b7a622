// Response head parsing, body framing and chunked decoding of the POSIX HTTP layer.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/HttpParser.h"

using namespace velmora::platform::http;

namespace {

struct HeadResult {
    ParseStatus status;
    ResponseHead head;
    size_t consumed = 0;
};

HeadResult Parse(const std::string& text) {
    HeadResult r;
    size_t searched = 0;
    r.status = ParseResponseHead(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &r.head, &r.consumed,
                                 &searched);
    return r;
}

BodyFraming Framing(const std::string& head, bool headRequest = false, bool* ok = nullptr) {
    HeadResult r = Parse(head);
    EXPECT_EQ(r.status, ParseStatus::Done) << head;
    BodyFraming f;
    bool result = DetermineFraming(r.head, headRequest, &f);
    if (ok) {
        *ok = result;
    } else {
        EXPECT_TRUE(result) << head;
    }
    return f;
}

// Decodes a whole chunked body fed in pieces of the given size; empty optional-like flag on error.
bool DecodeChunked(const std::string& wire, size_t piece, std::string* body) {
    ChunkedDecoder d;
    std::string pending;
    size_t fed = 0;
    body->clear();
    while (!d.Done() && !d.Failed()) {
        if (pending.empty()) {
            if (fed >= wire.size()) return false;  // ran out of input
            pending = wire.substr(fed, piece);
            fed += pending.size();
        }
        if (d.DataRemaining() > 0) {
            size_t n = std::min<size_t>(pending.size(), d.DataRemaining());
            body->append(pending, 0, n);
            pending.erase(0, n);
            d.ConsumeData(n);
            continue;
        }
        size_t used = d.Parse(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
        pending.erase(0, used);
    }
    return d.Done();
}

}  // namespace

TEST(CHttpParserTest, StatusLineTable) {
    struct Row {
        const char* line;
        bool ok;
        uint32_t status;
    } rows[] = {
        {"HTTP/1.1 200 OK", true, 200},
        {"HTTP/1.0 404 Not Found", true, 404},
        {"HTTP/1.1 204", true, 204},            // reason phrase may be absent
        {"HTTP/1.1 401 ", true, 401},           // or empty
        {"HTTP/1.1 200 OK with spaces", true, 200},
        {"HTTP/2.0 200 OK", false, 0},          // only HTTP/1.x is spoken here
        {"HTTP/1.1 20 OK", false, 0},           // two digits
        {"HTTP/1.1 2000 OK", false, 0},         // four digits
        {"HTTP/1.1 099 Low", false, 0},         // below 100
        {"ICY 200 OK", false, 0},               // not HTTP
        {"HTTP/1.1  200 OK", false, 0},         // two spaces
        {"garbage", false, 0},
        {"", false, 0},                         // the head starts with the blank line
    };
    for (const auto& row : rows) {
        HeadResult r = Parse(std::string(row.line) + "\r\nContent-Length: 0\r\n\r\n");
        if (std::string(row.line).empty()) r = Parse("\r\n\r\n");
        EXPECT_EQ(r.status == ParseStatus::Done, row.ok) << row.line;
        if (row.ok) {
            EXPECT_EQ(r.head.status, row.status) << row.line;
        }
    }
}

TEST(CHttpParserTest, FieldLinesAreParsedAndMalformedOnesRejected) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type:  text/plain \r\nX-Folded: a\r\n  b\r\nEmpty:\r\n\r\n";
    HeadResult r = Parse(head + "body");
    ASSERT_EQ(r.status, ParseStatus::Done);
    EXPECT_EQ(r.consumed, head.size());
    ASSERT_NE(r.head.Find("content-type"), nullptr);
    EXPECT_EQ(*r.head.Find("CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(*r.head.Find("X-Folded"), "a b");
    EXPECT_EQ(*r.head.Find("Empty"), "");
    EXPECT_EQ(r.head.Find("Missing"), nullptr);

    const char* bad[] = {
        "HTTP/1.1 200 OK\r\nNo colon here\r\n\r\n",
        "HTTP/1.1 200 OK\r\nName : space before colon\r\n\r\n",
        "HTTP/1.1 200 OK\r\n: no name\r\n\r\n",
        "HTTP/1.1 200 OK\r\n  fold without field\r\n\r\n",
        "HTTP/1.1 200 OK\r\nA: stray\rCR\r\n\r\n",
    };
    for (const char* text : bad) EXPECT_EQ(Parse(text).status, ParseStatus::Error) << text;
    std::string withNul("HTTP/1.1 200 OK\r\nA: x\0y\r\n\r\n", 27);
    EXPECT_EQ(Parse(withNul).status, ParseStatus::Error);
}

TEST(CHttpParserTest, BareLineFeedsEndLinesToo) {
    HeadResult r = Parse("HTTP/1.1 302 Found\nLocation: /x\n\nrest");
    ASSERT_EQ(r.status, ParseStatus::Done);
    EXPECT_EQ(r.head.status, 302u);
    EXPECT_EQ(*r.head.Find("Location"), "/x");
    EXPECT_EQ(r.consumed, std::string("HTTP/1.1 302 Found\nLocation: /x\n\n").size());
}

TEST(CHttpParserTest, HeadArrivingInPiecesNeedsMoreUntilComplete) {
    const std::string head = "HTTP/1.1 200 OK\r\nServer: t\r\nContent-Length: 3\r\n\r\n";
    const std::string wire = head + "abc";
    size_t searched = 0;
    ResponseHead parsed;
    size_t consumed = 0;
    for (size_t n = 1; n <= wire.size(); ++n) {
        ParseStatus s =
            ParseResponseHead(reinterpret_cast<const uint8_t*>(wire.data()), n, &parsed, &consumed, &searched);
        if (n < head.size()) {
            ASSERT_EQ(s, ParseStatus::NeedMore) << n;
        } else {
            ASSERT_EQ(s, ParseStatus::Done) << n;
            EXPECT_EQ(consumed, head.size());
            break;
        }
    }
}

TEST(CHttpParserTest, HeaderBlockIsBoundedAt64KiB) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() < kMaxHeaderBlockBytes + 100) head += "X-Filler: 0123456789012345678901234567890123456789\r\n";
    EXPECT_EQ(Parse(head).status, ParseStatus::Error);  // no blank line within the limit
    EXPECT_EQ(Parse(head + "\r\n").status, ParseStatus::Error);

    std::string fits = "HTTP/1.1 200 OK\r\n";
    while (fits.size() + 60 < kMaxHeaderBlockBytes) fits += "X-Filler: 0123456789012345678901234567890123456789\r\n";
    fits += "\r\n";
    ASSERT_LE(fits.size(), kMaxHeaderBlockBytes);
    EXPECT_EQ(Parse(fits).status, ParseStatus::Done);
    EXPECT_EQ(Parse(fits.substr(0, fits.size() - 2)).status, ParseStatus::NeedMore);
}

TEST(CHttpParserTest, FramingTable) {
    struct Row {
        const char* head;
        bool headRequest;
        bool ok;
        BodyKind kind;
        uint64_t length;
        bool keepAlive;
    } rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n", false, true, BodyKind::Length, 12, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\nContent-Length: 12\r\n\r\n", false, true, BodyKind::Length, 12, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12, 12\r\n\r\n", false, true, BodyKind::Length, 12, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 007\r\n\r\n", false, true, BodyKind::Length, 7, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\nContent-Length: 13\r\n\r\n", false, false, BodyKind::None, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", false, false, BodyKind::None, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, false, BodyKind::None, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", false, false, BodyKind::None, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\nConnection: close\r\n\r\n", false, true, BodyKind::Length, 12, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\n", false, true, BodyKind::Length, 12, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 12\r\nConnection: Keep-Alive\r\n\r\n", false, true, BodyKind::Length, 12, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n", false, true, BodyKind::Chunked, 0, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", false, true, BodyKind::Chunked, 0, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", false, true, BodyKind::UntilClose, 0, false},
        {"HTTP/1.1 200 OK\r\n\r\n", false, true, BodyKind::UntilClose, 0, false},
        {"HTTP/1.1 204 No Content\r\n\r\n", false, true, BodyKind::None, 0, true},
        {"HTTP/1.1 304 Not Modified\r\nContent-Length: 50\r\n\r\n", false, true, BodyKind::None, 0, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n", true, true, BodyKind::None, 0, true},  // HEAD
    };
    for (const auto& row : rows) {
        bool ok = false;
        BodyFraming f = Framing(row.head, row.headRequest, &ok);
        EXPECT_EQ(ok, row.ok) << row.head;
        if (!row.ok) continue;
        EXPECT_EQ(f.kind, row.kind) << row.head;
        EXPECT_EQ(f.length, row.length) << row.head;
        EXPECT_EQ(f.keepAlive, row.keepAlive) << row.head;
    }
}

TEST(CHttpParserTest, ChunkedBodyDecodesInAnyPieceSize) {
    const std::string wire = "5\r\nhello\r\n1;ext=1\r\n \r\nA\r\n0123456789\r\n000\r\nTrailer: x\r\n\r\n";
    for (size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
        std::string body;
        EXPECT_TRUE(DecodeChunked(wire, piece, &body)) << piece;
        EXPECT_EQ(body, "hello 0123456789") << piece;
    }
    std::string body;
    EXPECT_TRUE(DecodeChunked("0\r\n\r\n", 1, &body));
    EXPECT_EQ(body, "");
    EXPECT_TRUE(DecodeChunked("3\nabc\n0\n\n", 1, &body));  // bare line feeds
    EXPECT_EQ(body, "abc");
}

TEST(CHttpParserTest, MalformedChunkFramingFails) {
    const std::string overlong = "5;" + std::string(kMaxChunkLineBytes, 'x') + "\r\nhello\r\n0\r\n\r\n";
    const std::string bigTrailer = "0\r\nX: " + std::string(kMaxTrailerBytes, 'y') + "\r\n\r\n";
    const std::string cases[] = {
        "zz\r\nhello\r\n0\r\n\r\n",                 // not hex
        "\r\nhello\r\n0\r\n\r\n",                   // empty size
        "5 x\r\nhello\r\n0\r\n\r\n",                // junk after the size
        "1000000000000000\r\n",                     // 16 significant digits: past the bound
        "5\r\nhelloXX0\r\n\r\n",                    // no line end after the data
        "5\r\nhello\r\r\n0\r\n\r\n",                // two CRs
        overlong,
        bigTrailer,
    };
    for (const auto& wire : cases) {
        std::string body;
        EXPECT_FALSE(DecodeChunked(wire, 3, &body)) << wire.substr(0, 40);
    }
    // Leading zeros do not count against the digit bound.
    std::string body;
    EXPECT_TRUE(DecodeChunked("0000000000000000000005\r\nhello\r\n0\r\n\r\n", 4, &body));
    EXPECT_EQ(body, "hello");
}

TEST(CHttpParserTest, TokenListsMatchWholeTokensOnly) {
    EXPECT_TRUE(HasToken("keep-alive, close", "close"));
    EXPECT_TRUE(HasToken("Close", "close"));
    EXPECT_FALSE(HasToken("closed", "close"));
    EXPECT_FALSE(HasToken("", "close"));
}
