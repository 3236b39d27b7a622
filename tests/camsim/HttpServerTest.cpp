// The simulator's HTTP server: routing, keep-alive, request log, bodies as they arrive, limits,
// authentication, every fault kind, camera off and bounded stop.
#include "httpserver/HttpServer.h"

#include <gtest/gtest.h>

#include <atomic>

#include "RawHttp.h"
#include "platform/Sync.h"

namespace camsim {
namespace {

using test::RawHttp;
using test::Response;
using namespace std::string_literals;

constexpr uint32_t kWaitMs = 5000;

std::string Post(const std::string& target, const std::string& body, const std::string& extra = {}) {
    return "POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
           "\r\n" + body;
}

class CHttpServerTest : public ::testing::Test {
protected:
    explicit CHttpServerTest(ServerOptions options = {}) : server(options) {
        server.Route("/a", [](const RequestHead&, RequestBody&, ResponseWriter& w) { w.Respond(200, "text/plain", "A"); });
        server.Route("/a/b", [](const RequestHead&, RequestBody&, ResponseWriter& w) { w.Respond(200, "text/plain", "AB"); });
        server.Route("/echo", [](const RequestHead& h, RequestBody& b, ResponseWriter& w) {
            std::string body;
            if (!b.ReadAll(&body, 1 << 20, kWaitMs)) return;
            w.Respond(200, "text/plain", h.method + " " + h.target + " " + body);
        });
        server.Route("/big", [](const RequestHead&, RequestBody&, ResponseWriter& w) {
            w.Respond(200, "application/octet-stream", std::string(100000, 'x'));
        });
        server.Route("/stream", [](const RequestHead&, RequestBody&, ResponseWriter& w) {
            if (!w.BeginStream(200, "text/plain")) return;
            for (int i = 0; w.Write("tick\n") && w.Pause(10); ++i) {
            }
        });
        server.Route("/upload", [this](const RequestHead&, RequestBody& b, ResponseWriter& w) {
            char buffer[256];
            for (;;) {
                long n = b.Read(buffer, sizeof(buffer), 100);
                if (n == 0) {
                    w.Respond(200, "text/plain", "done");
                    return;
                }
                if (n == -1 || !w.Alive()) return;
            }
        });
        server.Route("/throw", [](const RequestHead&, RequestBody&, ResponseWriter&) { throw std::runtime_error("x"); });
    }
    void SetUp() override { ASSERT_TRUE(server.Start()); }
    uint16_t Port() const { return server.Port(); }

    HttpServer server;
};

TEST_F(CHttpServerTest, RoutesByLongestPathPrefix) {
    EXPECT_EQ(test::Get(Port(), "/a").body, "A");
    EXPECT_EQ(test::Get(Port(), "/a/b?x=1").body, "AB");
    EXPECT_EQ(test::Get(Port(), "/a/bc").body, "AB");  // prefixes are plain text prefixes
    EXPECT_EQ(test::Get(Port(), "/nothing").status, 404);
    EXPECT_EQ(test::Get(Port(), "/throw").status, 500);
}

TEST_F(CHttpServerTest, KeepsConnectionsAliveUnlessAskedToClose) {
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    Response r;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(http.SendGet("/a"));
        ASSERT_TRUE(http.ReadResponse(&r));
        EXPECT_EQ(r.body, "A");
        EXPECT_EQ(r.Find("Connection").value_or(""), "keep-alive");
    }
    ASSERT_TRUE(http.SendGet("/a", {"Connection: close"}));
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.Find("Connection").value_or(""), "close");
    EXPECT_TRUE(http.WaitClosed());

    RawHttp old(Port());
    ASSERT_TRUE(old.Connect());
    ASSERT_TRUE(old.Send("GET /a HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(old.ReadResponse(&r));
    EXPECT_EQ(r.body, "A");
    EXPECT_TRUE(old.WaitClosed());
}

TEST_F(CHttpServerTest, LogsMethodTargetHeadersBodyAndStatus) {
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.Send(Post("/echo?q=1&r", "payload", "X-Test: seen\r\n")));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.body, "POST /echo?q=1&r payload");
    auto entry = server.Log().WaitFor([](const LoggedRequest& e) { return e.status != 0; }, kWaitMs);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->method, "POST");
    EXPECT_EQ(entry->target, "/echo?q=1&r");
    EXPECT_EQ(entry->path, "/echo");
    EXPECT_EQ(entry->query, "q=1&r");
    EXPECT_EQ(entry->Find("x-test").value_or(""), "seen");
    EXPECT_EQ(entry->body, "payload");
    EXPECT_TRUE(entry->bodyComplete);
    EXPECT_EQ(entry->status, 200);
    EXPECT_EQ(server.Log().Count("/echo"), 1u);
    server.Log().Clear();
    EXPECT_TRUE(server.Log().Snapshot().empty());
}

TEST_F(CHttpServerTest, DecodesChunkedRequestBodies) {
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.Send("POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nMxR\0\r\n3;x=y\r\nabc\r\n0\r\n\r\n"s));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.body, std::string("POST /echo MxR\0abc", 18));
    auto log = server.Log().WithPrefix("/echo");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].body, std::string("MxR\0abc", 7));
}

TEST_F(CHttpServerTest, DeliversUploadBytesAsTheyArriveAndNoticesAnEarlyClose) {
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.Send("POST /upload HTTP/1.1\r\nContent-Length: 210000\r\n\r\n"));
    for (size_t sent = 24; sent <= 72; sent += 24) {
        ASSERT_TRUE(http.Send(std::string(24, static_cast<char>('a' + sent / 24))));
        // The handler reads each packet before the next one is even sent.
        auto entry = server.Log().WaitFor([&](const LoggedRequest& e) { return e.body.size() == sent; }, kWaitMs);
        ASSERT_TRUE(entry.has_value()) << sent;
        EXPECT_FALSE(entry->bodyComplete);
    }
    http.Close();
    auto aborted = server.Log().WaitFor([](const LoggedRequest& e) { return e.bodyAborted; }, kWaitMs);
    ASSERT_TRUE(aborted.has_value());
    EXPECT_EQ(aborted->body, std::string(24, 'b') + std::string(24, 'c') + std::string(24, 'd'));
    // Once the connection thread is done, still no response was attempted.
    for (int i = 0; i < 500 && server.ConnectionCount() > 0; ++i) velmora::platform::SleepMilliseconds(10);
    ASSERT_EQ(server.ConnectionCount(), 0u);
    EXPECT_EQ(server.Log().WithPrefix("/upload").at(0).status, 0);
}

TEST_F(CHttpServerTest, AnswersContinueBeforeTheBody) {
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.Send("POST /echo HTTP/1.1\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\n"));
    Response interim;
    ASSERT_TRUE(http.ReadHead(&interim));
    EXPECT_EQ(interim.status, 100);
    ASSERT_TRUE(http.Send("body"));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.body, "POST /echo body");
}

TEST_F(CHttpServerTest, RefusesMalformedAndOversizedRequests) {
    struct Row {
        std::string request;
        int status;
    };
    const Row rows[] = {
        {"NOT HTTP AT ALL\r\n\r\n", 400},
        {"GET /a HTTP/1.1\r\nX: " + std::string(kMaxRequestHeadBytes, 'x') + "\r\n\r\n", 431},
        {"POST /echo HTTP/1.1\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
    };
    for (const Row& row : rows) {
        RawHttp http(Port());
        ASSERT_TRUE(http.Connect());
        http.Send(row.request);
        Response r;
        ASSERT_TRUE(http.ReadResponse(&r)) << row.status;
        EXPECT_EQ(r.status, row.status);
        EXPECT_TRUE(http.WaitClosed());
    }
}

TEST_F(CHttpServerTest, AsksForBasicCredentialsAndRefusesWrongOnes) {
    AuthSettings s;
    s.mode = AuthMode::Basic;
    s.user = "admin";
    s.password = "meinsm";
    server.Auth().Configure(s);
    Response r = test::Get(Port(), "/a");
    EXPECT_EQ(r.status, 401);
    ASSERT_EQ(r.All("WWW-Authenticate").size(), 1u);
    EXPECT_EQ(r.Find("WWW-Authenticate")->rfind("Basic realm=\"camsim\"", 0), 0u);
    EXPECT_EQ(test::Get(Port(), "/a", {"Authorization: Basic " + Base64Encode("admin:meinsm")}).body, "A");
    EXPECT_EQ(test::Get(Port(), "/a", {"Authorization: Basic " + Base64Encode("admin:wrong")}).status, 401);
    EXPECT_EQ(test::Get(Port(), "/a", {"Authorization: Basic !!!!"}).status, 401);
}

// Answers a Digest challenge the way a client does.
std::string AnswerChallenge(const std::string& challenge, const std::string& password, const std::string& target) {
    std::map<std::string, std::string> p = ParseAuthParams(challenge.substr(challenge.find(' ') + 1));
    DigestAlgorithm algorithm = p["algorithm"] == "SHA-256" ? DigestAlgorithm::Sha256 : DigestAlgorithm::Md5;
    std::string response =
        DigestResponse(algorithm, "admin", p["realm"], password, "GET", target, p["nonce"], "00000001", "c0ffee");
    return "Authorization: Digest username=\"admin\", realm=\"" + p["realm"] + "\", nonce=\"" + p["nonce"] +
           "\", uri=\"" + target + "\", algorithm=" + p["algorithm"] + ", qop=auth, nc=00000001, cnonce=\"c0ffee\", " +
           "response=\"" + response + "\", opaque=\"" + p["opaque"] + "\"";
}

TEST_F(CHttpServerTest, AcceptsDigestAnswersForBothAlgorithmsOnTheSameConnection) {
    AuthSettings s;
    s.mode = AuthMode::Both;
    server.Auth().Configure(s);
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet("/a/b"));
    Response challenge;
    ASSERT_TRUE(http.ReadResponse(&challenge));
    ASSERT_EQ(challenge.status, 401);
    std::vector<std::string> offered = challenge.All("WWW-Authenticate");
    ASSERT_EQ(offered.size(), 3u);  // Digest SHA-256, Digest MD5, Basic
    for (size_t i = 0; i < 2; ++i) {
        Response r;
        ASSERT_TRUE(http.SendGet("/a/b", {AnswerChallenge(offered[i], "meinsm", "/a/b")}));
        ASSERT_TRUE(http.ReadResponse(&r));
        EXPECT_EQ(r.status, 200) << offered[i];
        ASSERT_TRUE(http.SendGet("/a/b", {AnswerChallenge(offered[i], "wrong", "/a/b")}));
        ASSERT_TRUE(http.ReadResponse(&r));
        EXPECT_EQ(r.status, 401) << offered[i];
    }
}

TEST_F(CHttpServerTest, RefusedUploadsAreNotWaitedFor) {
    AuthSettings s;
    s.mode = AuthMode::Digest;
    server.Auth().Configure(s);
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.Send("POST /upload HTTP/1.1\r\nContent-Length: 210000\r\n\r\n" + std::string(24, 'p')));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(r.Find("Connection").value_or(""), "close");
    EXPECT_TRUE(http.WaitClosed());
}

TEST_F(CHttpServerTest, AnswersAFixedStatusForAPrefixAndMethodAsOftenAsAsked) {
    server.Faults().Add(FaultRule::Status("/a/b", 503, "busy").Times(2));
    server.Faults().Add(FaultRule::Status("/echo", 404).Method("POST"));
    EXPECT_EQ(test::Get(Port(), "/a").status, 200);  // other prefix
    Response first = test::Get(Port(), "/a/b");
    EXPECT_EQ(first.status, 503);
    EXPECT_EQ(first.body, "busy");
    EXPECT_EQ(test::Get(Port(), "/a/b").status, 503);
    EXPECT_EQ(test::Get(Port(), "/a/b").status, 200);  // used up
    EXPECT_EQ(test::Get(Port(), "/echo").status, 200);  // GET is not POST
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.Send(Post("/echo", "x")));
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r));
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(server.Faults().Size(), 1u);
}

TEST_F(CHttpServerTest, AFaulted401CarriesAChallenge) {
    server.Faults().Add(FaultRule::Status("/a", 401));
    Response r = test::Get(Port(), "/a");
    EXPECT_EQ(r.status, 401);
    EXPECT_FALSE(r.All("WWW-Authenticate").empty());
}

TEST_F(CHttpServerTest, StallsAResponseBeforeItsFirstByteOrLater) {
    int id = server.Faults().Add(FaultRule::Stall("/a", 1500));
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet("/a"));
    EXPECT_EQ(http.ReadSome(100, 300), "");  // nothing while it stalls
    Response r;
    ASSERT_TRUE(http.ReadResponse(&r, 10000));
    EXPECT_EQ(r.body, "A");
    server.Faults().Remove(id);

    server.Faults().Add(FaultRule::Stall("/stream", 1500, 12));
    RawHttp stream(Port());
    ASSERT_TRUE(stream.Connect());
    ASSERT_TRUE(stream.SendGet("/stream"));
    std::string first;
    ASSERT_TRUE(stream.ReadExactly(12, &first));
    EXPECT_EQ(first, "HTTP/1.1 200");
    EXPECT_EQ(stream.ReadSome(100, 300), "");
    EXPECT_FALSE(stream.ReadSome(100, 10000).empty());  // and then it goes on
}

TEST_F(CHttpServerTest, ClosesAfterTheGivenNumberOfResponseBytes) {
    server.Faults().Add(FaultRule::CloseAfter("/big", 100).Times(1));
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet("/big"));
    std::string got = http.ReadToClose();
    EXPECT_EQ(got.size(), 100u);
    EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

    server.Faults().Add(FaultRule::CloseAfter("/stream", 0).Times(1));
    RawHttp none(Port());
    ASSERT_TRUE(none.Connect());
    ASSERT_TRUE(none.SendGet("/stream"));
    EXPECT_EQ(none.ReadToClose(), "");

    server.Faults().Add(FaultRule::CloseAfter("/stream", 500));
    RawHttp cut(Port());
    ASSERT_TRUE(cut.Connect());
    ASSERT_TRUE(cut.SendGet("/stream"));
    EXPECT_EQ(cut.ReadToClose(20000).size(), 500u);
}

TEST_F(CHttpServerTest, SendsGarbageInsteadOfAResponse) {
    server.Faults().Add(FaultRule::Garbage("/a", 64));
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet("/a"));
    std::string got = http.ReadToClose();
    EXPECT_EQ(got.size(), 64u);
    EXPECT_NE(got.rfind("HTTP", 0), 0u);
    EXPECT_EQ(server.Log().WithPrefix("/a").at(0).status, 0);
}

TEST_F(CHttpServerTest, TricklesTheResponseInSmallPieces) {
    server.Faults().Add(FaultRule::Trickle("/a", 7, 5));
    RawHttp http(Port());
    ASSERT_TRUE(http.Connect());
    ASSERT_TRUE(http.SendGet("/a"));
    std::string all;
    size_t largest = 0;
    int reads = 0;
    while (all.find("\r\n\r\nA") == std::string::npos && reads++ < 1000) {
        std::string piece = http.ReadSome(1 << 16);
        ASSERT_FALSE(piece.empty());
        largest = std::max(largest, piece.size());
        all += piece;
    }
    EXPECT_LE(largest, 7u);
    EXPECT_GT(reads, 5);
    EXPECT_EQ(all.rfind("HTTP/1.1 200 OK", 0), 0u);
}

TEST_F(CHttpServerTest, RefusesConnectionsWhileOffAndComesBackOnTheSamePort) {
    uint16_t port = Port();
    RawHttp stream(port);
    ASSERT_TRUE(stream.Connect());
    ASSERT_TRUE(stream.SendGet("/stream"));
    ASSERT_FALSE(stream.ReadSome(100).empty());

    ASSERT_TRUE(server.SetOffline(true));
    EXPECT_TRUE(stream.WaitClosed());  // the camera dropped its stream
    RawHttp refused(port);
    EXPECT_FALSE(refused.Connect());

    ASSERT_TRUE(server.SetOffline(false));
    EXPECT_EQ(server.Port(), port);
    EXPECT_EQ(test::Get(port, "/a").body, "A");
}

TEST_F(CHttpServerTest, StopEndsEveryConnection) {
    RawHttp stream(Port()), idle(Port());
    ASSERT_TRUE(stream.Connect());
    ASSERT_TRUE(idle.Connect());
    ASSERT_TRUE(stream.SendGet("/stream"));
    ASSERT_FALSE(stream.ReadSome(100).empty());
    ASSERT_TRUE(server.Log().WaitForCount("/stream", 1, kWaitMs));
    server.Stop();
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(stream.WaitClosed());
    EXPECT_TRUE(idle.WaitClosed());
    EXPECT_EQ(server.ConnectionCount(), 0u);
}

class CHttpServerLimitTest : public CHttpServerTest {
protected:
    static ServerOptions Options() {
        ServerOptions o;
        o.maxConnections = 2;
        return o;
    }
    CHttpServerLimitTest() : CHttpServerTest(Options()) {}
};

TEST_F(CHttpServerLimitTest, TurnsAwayConnectionsBeyondTheLimit) {
    RawHttp first(Port()), second(Port());
    Response r;
    for (RawHttp* h : {&first, &second}) {
        ASSERT_TRUE(h->Connect());
        ASSERT_TRUE(h->SendGet("/a"));
        ASSERT_TRUE(h->ReadResponse(&r));  // both connections are being served
    }
    RawHttp third(Port());
    ASSERT_TRUE(third.Connect());
    third.SendGet("/a");
    ASSERT_TRUE(third.ReadResponse(&r));
    EXPECT_EQ(r.status, 503);
    first.Close();
    // The server notices the close within its poll slice; then a new connection is served again.
    for (int i = 0; i < 500 && server.ConnectionCount() > 1; ++i) velmora::platform::SleepMilliseconds(10);
    ASSERT_LE(server.ConnectionCount(), 1u);
    EXPECT_EQ(test::Get(Port(), "/a").status, 200);
}

}  // namespace
}  // namespace camsim
