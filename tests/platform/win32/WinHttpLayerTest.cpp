// The Windows HTTP layer (WinHTTP) against scripted loopback peers, for what the shared layer
// tests leave to each backend: authentication answered by the layer itself (Basic, Digest MD5 and
// SHA-256), declared body lengths beyond what WinHTTP prints, a long upload written in pieces,
// every wait against a stalling server, a stream that never ends, and stopping from another
// thread when WinHTTP cannot wake a blocked call.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/Http.h"
#include "platform/HttpDigest.h"
#include "support/HttpLayerClient.h"
#include "support/ScriptedServer.h"

using namespace velmora::platform;
using quillon::test::Client;
using quillon::test::Handle;
using quillon::test::HttpReply;
using quillon::test::ReadBody;
using quillon::test::ReceivedRequest;
using quillon::test::ScriptedServer;
using quillon::test::ScriptStep;
using quillon::test::Status;

namespace {

constexpr uint32_t kStallTimeoutMs = 400;
// Bound on a call that must end by its own time-out; only reached on a fault.
constexpr auto kCallBound = std::chrono::seconds(20);

// Runs f on another thread and waits for it within kCallBound; false when it did not end.
template <typename F>
bool EndsInTime(F f, bool* result) {
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(kCallBound) != std::future_status::ready) return false;
    *result = done.get();
    return true;
}

// The Authorization header must answer the challenge the server gave, as the server checks it.
void ExpectDigestAnswers(const ReceivedRequest& req, const std::string& challenge, const std::string& nc,
                         const char* what) {
    SCOPED_TRACE(what);
    auto auth = http::ParseChallenges(req.Header("Authorization"));
    ASSERT_EQ(auth.size(), 1u) << req.Header("Authorization");
    ASSERT_EQ(auth[0].scheme, "digest");
    http::DigestChallenge expected;
    ASSERT_TRUE(http::PickDigestChallenge(http::ParseChallenges(challenge), &expected));
    const std::string* cnonce = auth[0].Param("cnonce");
    const std::string* response = auth[0].Param("response");
    ASSERT_TRUE(cnonce && response && auth[0].Param("nonce") && auth[0].Param("nc"));
    EXPECT_EQ(*auth[0].Param("nonce"), expected.nonce);
    EXPECT_EQ(*auth[0].Param("nc"), nc);
    EXPECT_EQ(*auth[0].Param("uri"), req.target);
    http::DigestInput input{req.method, req.target, "admin",
                            "geheim",   *cnonce,    static_cast<uint32_t>(std::stoul(nc, nullptr, 16))};
    EXPECT_EQ(*response, http::DigestResponse(expected, input));
}

}  // namespace

TEST(CWinHttpLayerTest, ChallengesAreAnsweredByTheLayerAndRememberedForTheNextRequest) {
    struct Row {
        const char* what;
        std::string challenges;  // WWW-Authenticate lines of the 401
        std::string expected;    // the challenge that must be answered; empty: Basic
    } rows[] = {
        {"digest MD5", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"m5\", qop=\"auth\", algorithm=MD5\r\n",
         "Digest realm=\"cam\", nonce=\"m5\", qop=\"auth\", algorithm=MD5"},
        {"digest SHA-256 offered after MD5",
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"a\", qop=\"auth\"\r\n"
         "WWW-Authenticate: Digest realm=\"cam\", nonce=\"b\", qop=\"auth\", algorithm=SHA-256\r\n",
         "Digest realm=\"cam\", nonce=\"b\", qop=\"auth\", algorithm=SHA-256"},
        {"digest before basic",
         "WWW-Authenticate: Basic realm=\"cam\"\r\nWWW-Authenticate: Digest realm=\"cam\", "
         "nonce=\"d\", qop=\"auth\", opaque=\"o\"\r\n",
         "Digest realm=\"cam\", nonce=\"d\", qop=\"auth\", opaque=\"o\""},
        {"basic only", "WWW-Authenticate: Basic realm=\"cam\"\r\n", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server;
        server.Add(HttpReply(401, "who?", row.challenges));
        server.Add(HttpReply(200, "one"));
        server.Add(HttpReply(200, "two"));
        Client c(server.Port());
        for (const char* expected : {"one", "two"}) {
            Handle r(c.Open("GET", "/control/x?a=1"));
            ASSERT_TRUE(HttpSetCredentials(r.get(), kHttpAuthTargetServer, kHttpAuthBasic | kHttpAuthDigest, "admin",
                                           "geheim"));
            ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
            ASSERT_TRUE(HttpReceiveResponse(r.get()));
            EXPECT_EQ(Status(r.get()), 200u);
            std::string body;
            EXPECT_TRUE(ReadBody(r.get(), &body));
            EXPECT_EQ(body, expected);
        }
        auto reqs = server.Requests();
        ASSERT_EQ(reqs.size(), 3u);
        EXPECT_FALSE(reqs[0].HasHeader("Authorization"));  // nothing before the server asked
        if (row.expected.empty()) {
            EXPECT_EQ(reqs[1].Header("Authorization"), "Basic YWRtaW46Z2VoZWlt");
            EXPECT_EQ(reqs[2].Header("Authorization"), "Basic YWRtaW46Z2VoZWlt");
        } else {
            ExpectDigestAnswers(reqs[1], row.expected, "00000001", "answer to the challenge");
            ExpectDigestAnswers(reqs[2], row.expected, "00000002", "remembered, counted on");
        }
        EXPECT_EQ(server.ConnectionCount(), 1);  // the 401's body was drained and the connection kept
    }
}

TEST(CWinHttpLayerTest, LongUploadsAreWrittenInPiecesUpToTheDeclaredLength) {
    // A PTZ-style upload: a small first piece, then 24-byte packets, then one byte too many.
    std::string upload;
    for (int i = 0; upload.size() < 48 * 1024; ++i) upload += static_cast<char>('a' + i % 26);
    ScriptedServer server;
    server.Add(HttpReply(200, "stored"));
    ScriptStep open;  // reads the first bytes only and holds the connection
    open.readBody = 4;
    open.noReply = true;
    server.Add(open);
    Client c(server.Port());
    Handle r(c.Open("POST", "/control/rotorcgi"));
    ASSERT_TRUE(HttpAddRequestHeaders(r.get(), "Content-Type: application/octet-stream", kHttpAddHeaderAddOrReplace));
    const uint32_t total = static_cast<uint32_t>(upload.size());
    ASSERT_TRUE(HttpSendRequest(r.get(), upload.data(), 10, total));
    uint32_t written = 0;
    for (size_t at = 10; at < upload.size(); at += 24) {
        uint32_t piece = static_cast<uint32_t>(std::min<size_t>(24, upload.size() - at));
        ASSERT_TRUE(HttpWriteData(r.get(), upload.data() + at, piece, &written)) << at;
        ASSERT_EQ(written, piece);
    }
    EXPECT_FALSE(HttpWriteData(r.get(), "x", 1, &written));
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(HttpReceiveResponse(r.get()));
    EXPECT_EQ(Status(r.get()), 200u);
    auto req = server.Requests().at(0);
    EXPECT_EQ(req.Header("Content-Length"), std::to_string(total));
    EXPECT_TRUE(req.body == upload) << req.body.size() << " of " << upload.size() << " bytes";

    // WinHTTP under Wine prints declared lengths above 2^31-1 as negative numbers; the layer
    // writes them itself.
    Handle big(c.Open("POST", "/control/rotorcgi"));
    ASSERT_TRUE(HttpSendRequest(big.get(), "abcd", 4, 3000000000u));
    ASSERT_TRUE(server.WaitForBodyBytes(1, 4));
    EXPECT_EQ(server.Requests().at(1).Header("Content-Length"), "3000000000");
    EXPECT_TRUE(HttpWriteData(big.get(), "efgh", 4, &written));
    EXPECT_FALSE(HttpReceiveResponse(big.get()));  // the body is still open
}

TEST(CWinHttpLayerTest, EveryWaitEndsInTheReceiveTimeoutAgainstAStallingServer) {
    struct Row {
        const char* what;
        std::string reply;  // sent, then the server stalls with the connection open
        bool headArrives;
        std::string delivered;  // body bytes that must be handed out before the time-out
        std::string sent;       // body bytes sent; nothing beyond them may be handed out
    } rows[] = {
        {"no answer at all", "", false, "", ""},
        {"head cut short", "HTTP/1.1 200 OK\r\nContent-Le", false, "", ""},
        {"length body", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nfive!", true, "five!", "five!"},
        // Wine's WinHTTP hands out a chunk only once data of the next one has arrived, so "abc"
        // may stay held back.
        {"chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\nabc", true, "hello",
         "helloabc"},
        {"close-delimited body", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nabc", true, "abc", "abc"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server;
        ScriptStep stall;
        stall.reply = row.reply;
        stall.noReply = row.reply.empty();
        stall.holdAfter = !row.reply.empty();
        server.Add(stall);
        Client c(server.Port(), kStallTimeoutMs);
        Handle r(c.Open());
        bool headed = true;
        // A stalled server may hold the send (Wine) or the receive; either must end.
        ASSERT_TRUE(EndsInTime([&] { return HttpSendRequest(r.get(), nullptr, 0, 0) && HttpReceiveResponse(r.get()); },
                               &headed));
        EXPECT_EQ(headed, row.headArrives);
        if (!headed) {
            EXPECT_EQ(Status(r.get()), 0u);
            continue;
        }
        std::string body;
        bool ended = true;
        ASSERT_TRUE(EndsInTime([&] { return ReadBody(r.get(), &body); }, &ended));
        EXPECT_FALSE(ended);
        EXPECT_EQ(body.substr(0, row.delivered.size()), row.delivered);
        EXPECT_EQ(row.sent.substr(0, body.size()), body);
        uint32_t n = 0;
        EXPECT_FALSE(HttpQueryDataAvailable(r.get(), &n));  // the failure sticks
    }
}

TEST(CWinHttpLayerTest, AStreamThatNeverEndsIsReadIntactAndStoppedFromAnotherThread) {
    ScriptedServer server;
    ScriptStep endless;
    endless.reply = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=b\r\n\r\n";
    endless.streamBytes = uint64_t(1) << 40;
    server.Add(endless);
    ScriptStep trickle;  // then a stream that stops sending
    trickle.reply = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=b\r\n\r\n--b\r\n";
    trickle.holdAfter = true;
    server.Add(trickle);
    Client c(server.Port(), 1000);

    // Read well past any buffer size, checking every byte, then stop between reads.
    Handle r(c.Open("GET", "/control/faststream.jpg?stream=full&fps=25&noaudio"));
    ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(r.get()));
    std::string body;
    ASSERT_TRUE(ReadBody(r.get(), &body, 65536, 6u << 20));
    ASSERT_GE(body.size(), 6u << 20);
    size_t wrong = 0;
    for (size_t i = 0; i < body.size(); ++i) wrong += static_cast<uint8_t>(body[i]) != ScriptedServer::PatternByte(i);
    EXPECT_EQ(wrong, 0u);
    r.Reset();
    EXPECT_TRUE(server.WaitForOpenConnections(0));

    // A reader blocked on the silent stream: closing the request from here fails every later call
    // at once; the blocked call itself ends no later than its receive time-out (WinHTTP cannot
    // wake it), and the connection is not kept.
    HttpHandle s = c.Open("GET", "/control/faststream.jpg?stream=full&fps=25&noaudio");
    ASSERT_TRUE(HttpSendRequest(s, nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(s));
    std::string first;
    auto reader = std::async(std::launch::async, [&] { return ReadBody(s, &first); });
    ASSERT_TRUE(server.WaitForRequests(2));
    EXPECT_TRUE(HttpCloseHandle(s));
    uint32_t n = 0;
    EXPECT_FALSE(HttpQueryDataAvailable(s, &n));
    ASSERT_EQ(reader.wait_for(kCallBound), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    EXPECT_TRUE(server.WaitForOpenConnections(0));
}
