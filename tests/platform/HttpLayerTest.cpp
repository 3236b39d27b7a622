// The HTTP layer end to end against scripted loopback peers, the same cases for both backends:
// requests and headers, bodies in all framings, keep-alive and the connection limit, open bodies,
// authentication, malformed responses and closing from another thread. Where the backends differ
// (HttpBackend()), each case checks what the running backend promises.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/Http.h"
#include "platform/HttpAuthMemory.h"
#include "platform/HttpDigest.h"
#include "support/HttpLayerClient.h"
#include "support/ScriptedServer.h"

using namespace velmora::platform;
using quillon::test::Client;
using quillon::test::Handle;
using quillon::test::HttpChunkedReply;
using quillon::test::HttpReply;
using quillon::test::ScriptedServer;
using quillon::test::ScriptStep;
using quillon::test::Status;
using quillon::test::ReadBody;

namespace {

constexpr uint32_t kShortTimeoutMs = 300;

// A GET that must succeed with the status; returns the body.
std::string Get(Client& c, const std::string& path, uint32_t expectedStatus = 200) {
    Handle r(c.Open("GET", path));
    EXPECT_TRUE(r);
    EXPECT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    EXPECT_TRUE(HttpReceiveResponse(r.get()));
    EXPECT_EQ(Status(r.get()), expectedStatus);
    std::string body;
    EXPECT_TRUE(ReadBody(r.get(), &body));
    return body;
}

}  // namespace

TEST(CHttpLayerTest, SendsRequestLineAndDefaultHeaders) {
    ScriptedServer server;
    server.Add(HttpReply(200, "hello", "X-Reply: yes\r\n"));
    Client c(server.Port());
    Handle r(c.Open("GET", "/control/x?list&a=1"));
    ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(r.get()));
    EXPECT_EQ(Status(r.get()), 200u);
    uint32_t length = 0;
    ASSERT_TRUE(HttpQueryContentLength(r.get(), &length));
    EXPECT_EQ(length, 5u);
    std::string value;
    ASSERT_TRUE(HttpQueryHeader(r.get(), "x-reply", &value));
    EXPECT_EQ(value, "yes");
    EXPECT_FALSE(HttpQueryHeader(r.get(), "X-Absent", &value));
    std::string body;
    ASSERT_TRUE(ReadBody(r.get(), &body, 2));
    EXPECT_EQ(body, "hello");

    ASSERT_EQ(server.RequestCount(), 1u);
    auto req = server.Requests()[0];
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.target, "/control/x?list&a=1");
    EXPECT_EQ(req.head.substr(0, req.head.find("\r\n")), "GET /control/x?list&a=1 HTTP/1.1");
    EXPECT_EQ(req.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(req.Header("User-Agent"), "LayerTest/1");
    EXPECT_EQ(req.Header("Cache-Control"), "no-cache");
    EXPECT_FALSE(req.HasHeader("Authorization"));
    EXPECT_FALSE(req.HasHeader("Content-Length"));  // a GET without body declares none
}

TEST(CHttpLayerTest, RejectsBadArgumentsAndStaleHandles) {
    ScriptedServer server;
    Client c(server.Port());
    EXPECT_EQ(c.Open("", "/x"), nullptr);
    EXPECT_EQ(c.Open("GET", ""), nullptr);
    EXPECT_EQ(c.Open("GET", "/a b"), nullptr);
    EXPECT_EQ(c.Open("GET", "/a\r\nX: y"), nullptr);
    EXPECT_EQ(HttpConnect(c.session.get(), "", 80), nullptr);
    EXPECT_EQ(HttpOpenRequest(c.session.get(), "GET", "/", 0), nullptr);  // a session is not a connection
    HttpHandle r = c.Open();
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(HttpSetCredentials(r, kHttpAuthTargetServer, kHttpAuthNtlm, "u", "p"));  // not performed here
    EXPECT_FALSE(HttpReceiveResponse(r));  // not sent yet
    EXPECT_TRUE(HttpCloseHandle(r));
    EXPECT_FALSE(HttpCloseHandle(r));
    EXPECT_FALSE(HttpSendRequest(r, nullptr, 0, 0));
    uint32_t n = 0;
    EXPECT_FALSE(HttpQueryDataAvailable(r, &n));
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST(CHttpLayerTest, HeaderLinesFollowAddAndReplaceRules) {
    ScriptedServer server;
    server.Add(HttpReply(200, "ok"));
    Client c(server.Port());
    Handle r(c.Open());
    EXPECT_TRUE(HttpAddRequestHeaders(r.get(), "X-One: 1", kHttpAddHeaderAddOrReplace));
    EXPECT_TRUE(HttpAddRequestHeaders(r.get(), "x-one: 2", kHttpAddHeaderAddOrReplace));     // replaced
    EXPECT_TRUE(HttpAddRequestHeaders(r.get(), "X-Two: a\r\nX-Three: b", kHttpAddHeaderAdd));  // two lines
    EXPECT_FALSE(HttpAddRequestHeaders(r.get(), "X-Absent: 1", kHttpAddHeaderReplace));      // nothing to replace
    EXPECT_TRUE(HttpAddRequestHeaders(r.get(), "X-Three:", kHttpAddHeaderReplace));          // removes it
    EXPECT_TRUE(HttpAddRequestHeaders(r.get(), "User-Agent: Other", kHttpAddHeaderAddOrReplace));
    EXPECT_FALSE(HttpAddRequestHeaders(r.get(), "Content-Length: 5", kHttpAddHeaderAddOrReplace));
    EXPECT_FALSE(HttpAddRequestHeaders(r.get(), "No colon", kHttpAddHeaderAddOrReplace));
    EXPECT_FALSE(HttpAddRequestHeaders(r.get(), "X-Bad: a\rb", kHttpAddHeaderAddOrReplace));
    EXPECT_FALSE(HttpAddRequestHeaders(r.get(), "Bad Name: x", kHttpAddHeaderAddOrReplace));
    ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(r.get()));
    auto req = server.Requests().at(0);
    EXPECT_EQ(req.Header("X-One"), "2");
    EXPECT_EQ(req.Header("X-Two"), "a");
    EXPECT_FALSE(req.HasHeader("X-Three"));
    EXPECT_FALSE(req.HasHeader("X-Absent"));
    EXPECT_FALSE(req.HasHeader("X-Bad"));
    EXPECT_EQ(req.Header("User-Agent"), "Other");
    size_t ones = 0;
    for (auto& h : req.headers) ones += h.first == "X-One" || h.first == "x-one";
    EXPECT_EQ(ones, 1u);
}

TEST(CHttpLayerTest, ChunkedAndReadToCloseBodiesArriveWhole) {
    ScriptedServer server;
    std::string big(30000, 'q');
    server.Add(HttpChunkedReply(200, {"abc", big, "xyz"}));
    server.Add("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nuntil the end", true);
    Client c(server.Port());
    EXPECT_EQ(Get(c, "/chunked"), "abc" + big + "xyz");
    Handle r(c.Open("GET", "/close"));
    ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(r.get()));
    uint32_t length = 0;
    EXPECT_FALSE(HttpQueryContentLength(r.get(), &length));
    std::string body;
    ASSERT_TRUE(ReadBody(r.get(), &body, 3));
    EXPECT_EQ(body, "until the end");
    // The chunked response ended cleanly, so its connection carried the second request.
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(CHttpLayerTest, InterimResponsesAreSkipped) {
    ScriptedServer server;
    server.Add("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: 1\r\n\r\n" + HttpReply(201, "made"));
    Client c(server.Port());
    if (HttpBackend().skipsInterimResponses) {
        EXPECT_EQ(Get(c, "/", 201), "made");
        return;
    }
    // Not promised: the exchange may fail, but then cleanly, with no status taken from a 1xx.
    Handle r(c.Open());
    ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    bool received = HttpReceiveResponse(r.get());
    EXPECT_EQ(Status(r.get()), received ? 201u : 0u);
}

TEST(CHttpLayerTest, KeepAliveReusesIdleConnectionsOnlyWhenPossible) {
    ScriptedServer server;
    server.Add(HttpReply(200, "1"));
    server.Add(HttpReply(200, "2"));
    server.Add(HttpReply(200, "3", "Connection: close\r\n"), true);
    server.Add(HttpReply(200, "4"), true);  // closes without saying so
    server.Add(HttpReply(200, "5"));
    Client c(server.Port());
    EXPECT_EQ(Get(c, "/1"), "1");
    EXPECT_EQ(Get(c, "/2"), "2");
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(Get(c, "/3"), "3");  // "Connection: close": not pooled
    EXPECT_EQ(Get(c, "/4"), "4");
    EXPECT_EQ(server.ConnectionCount(), 2);
    // The pooled connection was closed by the peer; the next request must not fail on it.
    ASSERT_TRUE(server.WaitForConnectionsClosed());
    EXPECT_EQ(Get(c, "/5"), "5");
    EXPECT_EQ(server.ConnectionCount(), 3);
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 5u);
    EXPECT_EQ(reqs[4].target, "/5");
}

TEST(CHttpLayerTest, ConnectionLimitMakesFurtherRequestsWaitForARelease) {
    ScriptedServer server;
    server.Add(HttpReply(200, "first"));
    server.Add(HttpReply(200, "second"));
    Client c(server.Port(), kShortTimeoutMs);
    ASSERT_TRUE(HttpSetMaxConnectionsPerServer(c.session.get(), 1));
    EXPECT_FALSE(HttpSetMaxConnectionsPerServer(c.session.get(), 0));
    Handle first(c.Open("GET", "/1"));
    ASSERT_TRUE(HttpSendRequest(first.get(), nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(first.get()));  // body unread: the connection stays taken

    Handle blocked(c.Open("GET", "/2"));
    EXPECT_FALSE(HttpSendRequest(blocked.get(), nullptr, 0, 0));  // no free connection within the time-out
    EXPECT_EQ(server.ConnectionCount(), 1);

    first.Reset();  // its body is complete in the buffer: the connection is released
    EXPECT_EQ(Get(c, "/2"), "second");
    EXPECT_EQ(server.ConnectionCount(), HttpBackend().reusesConnectionOfUnreadBody ? 1 : 2);
}

TEST(CHttpLayerTest, DeclaredBodyLongerThanSentIsCompletedByWrites) {
    ScriptedServer server;
    server.Add(HttpReply(200, "got it"));
    Client c(server.Port());
    Handle r(c.Open("POST", "/upload"));
    uint32_t written = 0;
    EXPECT_FALSE(HttpWriteData(r.get(), "x", 1, &written));  // not sent yet
    ASSERT_TRUE(HttpSendRequest(r.get(), "abcd", 4, 10));
    EXPECT_FALSE(HttpReceiveResponse(r.get()));  // the body is still open
    ASSERT_TRUE(server.WaitForBodyBytes(0, 4));
    EXPECT_EQ(server.Requests()[0].Header("Content-Length"), "10");
    EXPECT_TRUE(HttpWriteData(r.get(), "efgh", 4, &written));
    EXPECT_EQ(written, 4u);
    EXPECT_FALSE(HttpWriteData(r.get(), "ijk", 3, &written));  // one byte past the declared length
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(HttpWriteData(r.get(), "ij", 2, &written));
    EXPECT_FALSE(HttpWriteData(r.get(), "k", 1, &written));  // complete: nothing more fits
    ASSERT_TRUE(HttpReceiveResponse(r.get()));
    EXPECT_EQ(Status(r.get()), 200u);
    EXPECT_EQ(server.Requests()[0].body, "abcdefghij");
}

TEST(CHttpLayerTest, WholeBodyIsSentWithTheHead) {
    ScriptedServer server;
    server.Add(HttpReply(200, ""));
    server.Add(HttpReply(200, ""));
    Client c(server.Port());
    std::string big(100000, 'b');
    for (const std::string& body : {std::string("k=v"), big}) {
        Handle r(c.Open("POST", "/form"));
        ASSERT_TRUE(HttpSendRequest(r.get(), body.data(), static_cast<uint32_t>(body.size()), 0));
        ASSERT_TRUE(HttpReceiveResponse(r.get()));
    }
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].body, "k=v");
    EXPECT_EQ(reqs[1].body, big);
    EXPECT_EQ(reqs[1].Header("Content-Length"), "100000");
}

TEST(CHttpLayerTest, MalformedResponsesFailCleanly) {
    std::string hugeHead = "HTTP/1.1 200 OK\r\n";
    while (hugeHead.size() < 70000) hugeHead += "X-Filler: 01234567890123456789\r\n";
    struct Row {
        const char* what;
        std::string reply;
    } rows[] = {
        {"bad status line", "HTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
        {"binary garbage", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 15)},
        {"header block over 64 KiB", hugeHead + "\r\n"},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"},
        {"closed before the head ends", "HTTP/1.1 200 OK\r\nContent-Le"},
    };
    for (const auto& row : rows) {
        ScriptedServer server;
        server.Add(row.reply, true);
        Client c(server.Port());
        Handle r(c.Open());
        ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0)) << row.what;
        EXPECT_FALSE(HttpReceiveResponse(r.get())) << row.what;
        uint32_t code = 0;
        EXPECT_FALSE(HttpQueryStatusCode(r.get(), &code)) << row.what;
    }
}

TEST(CHttpLayerTest, BrokenBodiesGiveShortReadsThenFailure) {
    struct Row {
        const char* what;
        std::string reply;
        std::string delivered;  // body bytes handed out before the failure
        bool chunked;           // the failure is promised only by backends that check chunking
    } rows[] = {
        {"close mid-body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", "0123456789", false},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nZZ\r\nmore", "abc", true},
        {"close inside chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabcd", "abcd", true},
        {"close before last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n", "ab", true},
    };
    for (const auto& row : rows) {
        ScriptedServer server;
        server.Add(row.reply, true);
        Client c(server.Port());
        Handle r(c.Open());
        ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0)) << row.what;
        ASSERT_TRUE(HttpReceiveResponse(r.get())) << row.what;
        std::string body;
        bool ended = ReadBody(r.get(), &body, 3);
        EXPECT_EQ(body, row.delivered) << row.what;
        if (row.chunked && !HttpBackend().checksChunkedBodies) continue;
        EXPECT_FALSE(ended) << row.what;
        uint32_t n = 0;
        EXPECT_FALSE(HttpQueryDataAvailable(r.get(), &n)) << row.what;  // the failure sticks
    }
}

// A live stream reads in large pieces without asking what is available first; the POSIX backend then
// receives straight into the caller's buffer. Whatever the path, the bytes and the ending are those of
// the buffered reads: the whole body and a reusable connection, or the bytes that came and a failure.
TEST(CHttpLayerTest, LargeReadsWithoutAskingFirstKeepBytesAndEndings) {
    const std::string big(200000, 'b');
    std::string pattern(150000, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + i / 251);
    struct Row {
        const char* what;
        ScriptStep step;
        std::string delivered;
        bool ends;       // the body ends cleanly
        bool reusable;   // and its connection carries the next request
    } rows[] = {
        {"length", {HttpReply(200, big)}, big, true, true},
        {"length, binary", {HttpReply(200, pattern)}, pattern, true, true},
        {"until close", {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big, 0, true}, big, true, false},
        {"chunked", {HttpChunkedReply(200, {big, "tail"})}, big + "tail", true, true},
        {"close before the length", {"HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + big, 0, true}, big, false, false},
        {"stall before the length", {"HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + big, 0, false, false, true}, big,
         false, false},
    };
    for (const Row& row : rows) {
        ScriptedServer server;
        server.Add(row.step);
        server.Add(HttpReply(200, "next"));
        Client c(server.Port(), kShortTimeoutMs);
        Handle r(c.Open());
        ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0)) << row.what;
        ASSERT_TRUE(HttpReceiveResponse(r.get())) << row.what;
        std::string body;
        std::vector<char> piece(64 * 1024);
        bool ended = false;
        for (int guard = 0; guard < 100000; ++guard) {
            uint32_t got = 0;
            if (!HttpReadData(r.get(), piece.data(), static_cast<uint32_t>(piece.size()), &got)) break;
            if (got == 0) {
                ended = true;
                break;
            }
            body.append(piece.data(), got);
        }
        EXPECT_EQ(body.size(), row.delivered.size()) << row.what;
        EXPECT_TRUE(body == row.delivered) << row.what;
        EXPECT_EQ(ended, row.ends) << row.what;
        if (!row.reusable) continue;
        EXPECT_EQ(Get(c, "/next"), "next") << row.what;
        EXPECT_EQ(server.ConnectionCount(), 1) << row.what;
    }
}

TEST(CHttpLayerTest, SilentServerEndsInReceiveTimeout) {
    ScriptedServer server;
    ScriptStep silent;
    silent.noReply = true;
    server.Add(silent);
    ScriptStep stall;
    stall.reply = "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nfive!";
    stall.holdAfter = true;
    server.Add(stall);
    Client c(server.Port(), kShortTimeoutMs);
    Handle r(c.Open());
    ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
    EXPECT_FALSE(HttpReceiveResponse(r.get()));

    Handle s(c.Open());
    ASSERT_TRUE(HttpSendRequest(s.get(), nullptr, 0, 0));
    ASSERT_TRUE(HttpReceiveResponse(s.get()));
    std::string body;
    EXPECT_FALSE(ReadBody(s.get(), &body));
    EXPECT_EQ(body, "five!");
}

TEST(CHttpLayerTest, ClosingFromAnotherThreadWakesABlockedCall) {
    // Each row stalls the peer at one place; the call blocked there must return, failing, as soon
    // as another thread closes the request, long before the 60 s receive time-out. A backend
    // that cannot wake it gets a 1 s time-out, which must then end the call.
    struct Row {
        const char* what;
        std::string reply;  // sent, then the connection is held silent
        bool headArrives;
    } rows[] = {
        {"in the reply head", "HTTP/1.1 200 OK\r\nContent-Len", false},
        {"in a body with a length", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nfive!", true},
        {"in a body read to the close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nfive!", true},
    };
    for (const auto& row : rows) {
        ScriptedServer server;
        ScriptStep stall;
        stall.reply = row.reply;
        stall.holdAfter = true;
        server.Add(stall);
        Client c(server.Port(), HttpBackend().closeWakesBlockedCall ? 60000 : 1000);
        HttpHandle r = c.Open();
        ASSERT_TRUE(HttpSendRequest(r, nullptr, 0, 0)) << row.what;
        if (row.headArrives) {
            ASSERT_TRUE(HttpReceiveResponse(r)) << row.what;
            char buffer[5];
            uint32_t got = 0;
            ASSERT_TRUE(HttpReadData(r, buffer, sizeof(buffer), &got)) << row.what;
            ASSERT_EQ(got, 5u) << row.what;
        }
        std::promise<void> started;
        auto blocked = std::async(std::launch::async, [&] {
            started.set_value();
            uint32_t n = 0;
            return row.headArrives ? HttpQueryDataAvailable(r, &n) : HttpReceiveResponse(r);
        });
        ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
        ASSERT_TRUE(server.WaitForRequests(1)) << row.what;
        EXPECT_TRUE(HttpCloseHandle(r)) << row.what;
        ASSERT_EQ(blocked.wait_for(std::chrono::seconds(10)), std::future_status::ready) << row.what;
        EXPECT_FALSE(blocked.get()) << row.what;  // an abort is never a clean end of body
    }
}

TEST(CHttpLayerTest, SchemeQueryReportsOnlyPerformableSchemes) {
    struct Row {
        const char* what;
        std::string reply;
        bool ok;
        uint32_t supported, first, target;
    } rows[] = {
        {"several offered", HttpReply(401, "", "WWW-Authenticate: Negotiate\r\nWWW-Authenticate: Digest realm=\"r\", "
                                               "nonce=\"n\", qop=\"auth\"\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"),
         true, kHttpAuthDigest | kHttpAuthBasic, kHttpAuthDigest, kHttpAuthTargetServer},
        {"one header, two schemes", HttpReply(401, "", "WWW-Authenticate: Basic realm=\"r\", Digest realm=\"r\", nonce=\"n\"\r\n"),
         true, kHttpAuthDigest | kHttpAuthBasic, kHttpAuthBasic, kHttpAuthTargetServer},
        {"proxy", HttpReply(407, "", "Proxy-Authenticate: Basic realm=\"p\"\r\n"), true, kHttpAuthBasic, kHttpAuthBasic,
         kHttpAuthTargetProxy},
        {"only unknown schemes", HttpReply(401, "", "WWW-Authenticate: NTLM\r\nWWW-Authenticate: Negotiate\r\n"), false, 0, 0, 0},
        {"digest we cannot answer", HttpReply(401, "", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"\r\n"),
         false, 0, 0, 0},
        {"no challenge at all", HttpReply(401, ""), false, 0, 0, 0},
        {"not a challenge", HttpReply(200, "", "WWW-Authenticate: Basic realm=\"r\"\r\n"), false, 0, 0, 0},
    };
    for (const auto& row : rows) {
        ScriptedServer server;
        server.Add(row.reply);
        Client c(server.Port());
        Handle r(c.Open());
        ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0)) << row.what;
        ASSERT_TRUE(HttpReceiveResponse(r.get())) << row.what;
        uint32_t supported = 99, first = 99, target = 99;
        EXPECT_EQ(HttpQueryAuthSchemes(r.get(), &supported, &first, &target), row.ok) << row.what;
        if (!row.ok) continue;
        EXPECT_EQ(supported, row.supported) << row.what;
        EXPECT_EQ(first, row.first) << row.what;
        EXPECT_EQ(target, row.target) << row.what;
    }
}

namespace {

// The scheme word of a request's Authorization header, "none" without one.
std::string SchemeOf(const quillon::test::ReceivedRequest& req) {
    if (!req.HasHeader("Authorization")) return "none";
    std::string value = req.Header("Authorization");
    return value.substr(0, value.find(' '));
}

}  // namespace

TEST(CHttpLayerTest, CredentialsWaitForAChallengeAndFollowTheOfferedScheme) {
    const std::string md5 = "Digest realm=\"r\", nonce=\"m\", qop=\"auth\"";
    const std::string sha = "Digest realm=\"r\", nonce=\"s\", qop=\"auth\", algorithm=SHA-256";
    struct Row {
        const char* what;
        std::string challenges;   // WWW-Authenticate lines of the first 401
        std::string answer;       // scheme of the answer ("none": the 401 goes to the caller)
        std::string algorithm;    // Digest algorithm of the answer, when one is named
    } rows[] = {
        {"Basic alone is answered with Basic", "WWW-Authenticate: Basic realm=\"r\"\r\n", "Basic", ""},
        {"Digest is preferred to Basic", "WWW-Authenticate: Basic realm=\"r\"\r\nWWW-Authenticate: " + md5 + "\r\n",
         "Digest", ""},
        {"SHA-256 before MD5, in any order",
         "WWW-Authenticate: " + md5 + "\r\nWWW-Authenticate: " + sha + "\r\nWWW-Authenticate: Basic realm=\"r\"\r\n",
         "Digest", "SHA-256"},
        {"Basic beside a scheme we lack is not sent in clear",
         "WWW-Authenticate: Negotiate\r\nWWW-Authenticate: Basic realm=\"r\"\r\n", "none", ""},
        {"Basic beside an unanswerable Digest is not sent either",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"\r\nWWW-Authenticate: Basic realm=\"r\"\r\n",
         "none", ""},
        {"a 401 without a challenge", "", "none", ""},
    };
    for (const auto& row : rows) {
        const bool answered = row.answer != "none";
        ScriptedServer server;
        server.Add(HttpReply(401, "", row.challenges));
        if (answered) server.Add(HttpReply(200, "in"));
        server.Add(HttpReply(answered ? 200 : 401, "", answered ? "" : row.challenges));
        server.Add(HttpReply(401, "", row.challenges));
        if (answered) server.Add(HttpReply(200, "in"));
        auto memory = std::make_shared<HttpAuthMemory>();
        // Two sessions of one device share the memory; a third has its own and learns anew.
        auto exchange = [&](bool shared, uint32_t expectedStatus) {
            Client c(server.Port());
            if (shared) {
                ASSERT_TRUE(HttpSetAuthMemory(c.session.get(), memory));
            }
            Handle r(c.Open());
            ASSERT_TRUE(HttpSetCredentials(r.get(), kHttpAuthTargetServer, kHttpAuthBasic | kHttpAuthDigest, "u", "p"));
            ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0)) << row.what;
            ASSERT_TRUE(HttpReceiveResponse(r.get())) << row.what;
            EXPECT_EQ(Status(r.get()), expectedStatus) << row.what;
        };
        exchange(true, answered ? 200 : 401);
        exchange(true, answered ? 200 : 401);
        exchange(false, answered ? 200 : 401);
        auto reqs = server.Requests();
        std::vector<std::string> schemes;
        for (const auto& req : reqs) schemes.push_back(SchemeOf(req));
        std::vector<std::string> expected = answered
            ? std::vector<std::string>{"none", row.answer, row.answer, "none", row.answer}  // no second 401
            : std::vector<std::string>{"none", "none", "none"};
        EXPECT_EQ(schemes, expected) << row.what;
        EXPECT_FALSE(HttpSetAuthMemory(Client(server.Port()).session.get(), nullptr));
        if (!answered) continue;
        const std::string auth = reqs[1].Header("Authorization");
        if (row.answer == "Basic") {
            EXPECT_EQ(auth, http::BasicAuthorization("u", "p")) << row.what;
        }
        if (!row.algorithm.empty()) {
            EXPECT_NE(auth.find("algorithm=" + row.algorithm), std::string::npos) << auth;
        }
        EXPECT_EQ(memory->KnownScheme("127.0.0.1", server.Port(), kHttpAuthTargetServer),
                  row.answer == "Basic" ? kHttpAuthBasic : kHttpAuthDigest) << row.what;
    }
}

namespace {

// Recomputes the Digest response the server would expect for an Authorization header.
void ExpectValidDigest(const quillon::test::ReceivedRequest& req, const std::string& user, const std::string& password,
                       const std::string& challengeHeader, const std::string& nc) {
    auto auth = http::ParseChallenges(req.Header("Authorization"));
    ASSERT_EQ(auth.size(), 1u) << req.Header("Authorization");
    const auto& a = auth[0];
    ASSERT_EQ(a.scheme, "digest");
    http::DigestChallenge challenge;
    ASSERT_TRUE(http::PickDigestChallenge(http::ParseChallenges(challengeHeader), &challenge));
    ASSERT_NE(a.Param("cnonce"), nullptr);
    ASSERT_NE(a.Param("response"), nullptr);
    EXPECT_EQ(*a.Param("username"), user);
    EXPECT_EQ(*a.Param("uri"), req.target);
    EXPECT_EQ(*a.Param("nonce"), challenge.nonce);
    EXPECT_EQ(*a.Param("nc"), nc);
    http::DigestInput input{req.method, req.target, user, password, *a.Param("cnonce"),
                            static_cast<uint32_t>(std::stoul(nc, nullptr, 16))};
    EXPECT_EQ(*a.Param("response"), http::DigestResponse(challenge, input));
}

const std::string kDigestChallenge =
    "Digest realm=\"cam\", nonce=\"abc123\", qop=\"auth\", algorithm=SHA-256, opaque=\"op\"";

}  // namespace

TEST(CHttpLayerTest, DigestCredentialsAnswerTheFirstChallengeAndThenGoFirst) {
    ScriptedServer server;
    server.Add(HttpReply(401, "no", "WWW-Authenticate: " + kDigestChallenge + "\r\n"));
    server.Add(HttpReply(200, "welcome"));
    server.Add(HttpReply(200, "again"));
    Client c(server.Port());
    int nonces = 0;
    HttpSetNonceSource(c.session.get(), [&] { return "fixed-cnonce-" + std::to_string(++nonces); });
    for (const char* expected : {"welcome", "again"}) {
        Handle r(c.Open("GET", "/secret?x=1"));
        ASSERT_TRUE(HttpSetCredentials(r.get(), kHttpAuthTargetServer, kHttpAuthDigest, "admin", "meinsm"));
        ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
        ASSERT_TRUE(HttpReceiveResponse(r.get()));
        EXPECT_EQ(Status(r.get()), 200u);
        std::string body;
        ASSERT_TRUE(ReadBody(r.get(), &body));
        EXPECT_EQ(body, expected);
    }
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_FALSE(reqs[0].HasHeader("Authorization"));  // no challenge known yet
    ExpectValidDigest(reqs[1], "admin", "meinsm", kDigestChallenge, "00000001");
    ExpectValidDigest(reqs[2], "admin", "meinsm", kDigestChallenge, "00000002");  // same nonce, counted on
    EXPECT_NE(reqs[1].Header("Authorization").find("cnonce=\"fixed-cnonce-1\""), std::string::npos);
    EXPECT_EQ(server.ConnectionCount(), 1);  // the 401's body was drained and the connection kept
}

TEST(CHttpLayerTest, StaleNonceIsRenewedButARefusalIsReturned) {
    const std::string fresh = "Digest realm=\"cam\", nonce=\"second\", qop=\"auth\", stale=true";
    const std::string refusal = "Digest realm=\"cam\", nonce=\"third\", qop=\"auth\"";
    ScriptedServer server;
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + kDigestChallenge + "\r\n"));
    server.Add(HttpReply(200, "1"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + fresh + "\r\n"));
    server.Add(HttpReply(200, "2"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + refusal + "\r\n"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + refusal + "\r\n"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + refusal + "\r\n"));
    Client c(server.Port());
    auto send = [&](uint32_t expectedStatus) {
        Handle r(c.Open());
        ASSERT_TRUE(HttpSetCredentials(r.get(), kHttpAuthTargetServer, kHttpAuthDigest, "u", "p"));
        ASSERT_TRUE(HttpSendRequest(r.get(), nullptr, 0, 0));
        ASSERT_TRUE(HttpReceiveResponse(r.get()));
        EXPECT_EQ(Status(r.get()), expectedStatus);
    };
    send(200);
    send(200);  // stale: answered again with the new nonce
    // A remembered nonce replaced without "stale" may just be forgotten by the server: answered
    // once with the new nonce, whose refusal is then final.
    send(401);
    send(401);  // the same nonce refused again: no further try
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 7u);
    ExpectValidDigest(reqs[2], "u", "p", kDigestChallenge, "00000002");
    ExpectValidDigest(reqs[3], "u", "p", fresh, "00000001");
    ExpectValidDigest(reqs[4], "u", "p", fresh, "00000002");
    ExpectValidDigest(reqs[5], "u", "p", refusal, "00000001");
    ExpectValidDigest(reqs[6], "u", "p", refusal, "00000002");
}
