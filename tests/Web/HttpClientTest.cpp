// Web::CHttpClient against scripted loopback peers: exchanges, authentication,
// open bodies and WriteData, ReadAll and streaming reads, failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "Driver/IDriver.h"
#include "Web/HttpClient.h"
#include "platform/Socket.h"
#include "platform/System.h"
#include "platform/HttpDigest.h"
#include "support/ScriptedServer.h"

using quillon::test::HttpChunkedReply;
using quillon::test::HttpReply;
using quillon::test::ReceivedRequest;
using quillon::test::ScriptedServer;
using quillon::test::ScriptStep;
namespace http = velmora::platform::http;

namespace {

velmora::DEVICE_INFO Device(uint16_t port, const std::string& user = {}, const std::string& password = {},
                            int32_t timeoutMs = 5000) {
    velmora::DEVICE_INFO d;
    d.Address = "127.0.0.1";
    d.Port = port;
    d.UserName = user;
    d.Password = password;
    d.RequestTimeout = timeoutMs;
    return d;
}

// A port on which nothing listens: taken from a listener that is closed again.
uint16_t ClosedPort() {
    velmora::platform::TcpSocket s;
    EXPECT_TRUE(s.Listen("127.0.0.1", 0));
    uint16_t port = s.LocalPort();
    s.Close();
    return port;
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(ScriptedServer::PatternByte(i));
    return s;
}

// Checks an Authorization: Digest header against the challenge it answers.
void ExpectDigestFor(const ReceivedRequest& req, const std::string& challengeHeader, const std::string& user,
                     const std::string& password) {
    auto auth = http::ParseChallenges(req.Header("Authorization"));
    ASSERT_EQ(auth.size(), 1u);
    ASSERT_EQ(auth[0].scheme, "digest") << req.Header("Authorization");
    http::DigestChallenge challenge;
    ASSERT_TRUE(http::PickDigestChallenge(http::ParseChallenges(challengeHeader), &challenge));
    const auto* cnonce = auth[0].Param("cnonce");
    const auto* nc = auth[0].Param("nc");
    const auto* response = auth[0].Param("response");
    ASSERT_TRUE(cnonce && nc && response);
    EXPECT_EQ(*auth[0].Param("username"), user);
    EXPECT_EQ(*auth[0].Param("uri"), req.target);
    http::DigestInput in{req.method, req.target, user, password, *cnonce, static_cast<uint32_t>(std::stoul(*nc, nullptr, 16))};
    EXPECT_EQ(*response, http::DigestResponse(challenge, in));
}

const std::string kDigest = "Digest realm=\"MOBOTIX\", nonce=\"n0nce\", qop=\"auth\", algorithm=MD5";

}  // namespace

TEST(CHttpClientTest, ExchangeReportsStatusAndLengthAndKeepsHostAndPort) {
    ScriptedServer server;
    server.Add(HttpReply(200, "OK\r\n"));
    server.Add(HttpReply(404, "missing"));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    EXPECT_EQ(client.Host(), "127.0.0.1");
    EXPECT_EQ(client.Port(), server.Port());
    EXPECT_EQ(client.GetStatusCode(), 0u);
    ASSERT_TRUE(client.SendRequest("GET", "/control/rcontrol?action=sigouthigh"));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    EXPECT_EQ(client.GetContentLength(), 4u);
    std::vector<uint8_t> body;
    EXPECT_EQ(client.ReadAll(body), 4u);
    EXPECT_EQ(Text(body), "OK\r\n");
    // An HTTP error is not a client failure.
    ASSERT_TRUE(client.SendRequest("GET", "/nothing"));
    EXPECT_EQ(client.GetStatusCode(), 404u);
    EXPECT_EQ(client.GetContentLength(), 7u);
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].target, "/control/rcontrol?action=sigouthigh");
    EXPECT_EQ(reqs[0].Header("User-Agent"), "Velmora::HttpClient");
    EXPECT_FALSE(reqs[0].HasHeader("Authorization"));  // no user name: no credentials
}

TEST(CHttpClientTest, EmptyVerbOrPathFailsWithoutARequest) {
    ScriptedServer server;
    server.Add(HttpReply(200, "first"));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/a"));
    EXPECT_FALSE(client.SendRequest("", "/a"));
    EXPECT_EQ(client.GetStatusCode(), 0u);
    EXPECT_FALSE(client.SendRequest("GET", ""));
    EXPECT_EQ(client.GetStatusCode(), 0u);
    EXPECT_EQ(server.RequestCount(), 1u);
    // The failed attempts left the earlier request current: its body can still be read.
    std::vector<uint8_t> body;
    EXPECT_EQ(client.ReadAll(body), 5u);
    EXPECT_EQ(Text(body), "first");
}

TEST(CHttpClientTest, NoCredentialsBeforeTheChallengeThenDigestAndASecond401IsFinal) {
    ScriptedServer server;
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + kDigest + "\r\n"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: " + kDigest + "\r\n"));
    Web::CHttpClient client(Device(server.Port(), "admin", "wrong"), velmora::kHttpAgent);
    EXPECT_TRUE(client.SendRequest("GET", "/control/control?list"));
    EXPECT_EQ(client.GetStatusCode(), 401u);
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_FALSE(reqs[0].HasHeader("Authorization"));  // nothing, not even Basic, before the camera asks
    ExpectDigestFor(reqs[1], kDigest, "admin", "wrong");
}

TEST(CHttpClientTest, DigestLearnedOnceIsUsedForLaterRequests) {
    ScriptedServer server;
    server.Add(HttpReply(401, "", "WWW-Authenticate: Basic realm=\"x\"\r\nWWW-Authenticate: " + kDigest + "\r\n"));
    server.Add(HttpReply(200, "one"));
    server.Add(HttpReply(200, "two"));
    Web::CHttpClient client(Device(server.Port(), "admin", "meinsm"), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/a"));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    std::vector<uint8_t> body;
    client.ReadAll(body);
    EXPECT_EQ(Text(body), "one");
    ASSERT_TRUE(client.SendRequest("GET", "/b"));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 3u);  // Digest preferred over Basic, then sent first on /b
    ExpectDigestFor(reqs[1], kDigest, "admin", "meinsm");
    ExpectDigestFor(reqs[2], kDigest, "admin", "meinsm");
    EXPECT_EQ(reqs[2].target, "/b");
}

TEST(CHttpClientTest, RefusedCredentialsAndUnknownSchemesEndWithThe401) {
    ScriptedServer server;
    server.Add(HttpReply(401, "", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
    server.Add(HttpReply(401, "", "WWW-Authenticate: NTLM\r\n"));
    Web::CHttpClient client(Device(server.Port(), "admin", "bad"), velmora::kHttpAgent);
    EXPECT_TRUE(client.SendRequest("GET", "/basic-only"));
    EXPECT_EQ(client.GetStatusCode(), 401u);
    EXPECT_EQ(server.RequestCount(), 2u);  // asked, answered once with Basic, refused
    // A scheme the layer cannot perform is not answered at all.
    EXPECT_TRUE(client.SendRequest("GET", "/ntlm-only"));
    EXPECT_EQ(client.GetStatusCode(), 401u);
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_FALSE(reqs[0].HasHeader("Authorization"));
    EXPECT_EQ(reqs[1].Header("Authorization"), http::BasicAuthorization("admin", "bad"));
    EXPECT_EQ(reqs[2].Header("Authorization"), http::BasicAuthorization("admin", "bad"));  // asked for before
}

TEST(CHttpClientTest, MissingContentLengthAndHeadFailures) {
    ScriptedServer server;
    server.Add("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nto the close", true);
    ScriptStep dies;
    dies.reply = "HTTP/1.1 20";
    dies.closeAfter = true;
    server.Add(dies);
    server.Add("HTTP/1.1 OK 200\r\n\r\n", true);
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/no-length"));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    EXPECT_EQ(client.GetContentLength(), 0u);
    std::vector<uint8_t> body;
    EXPECT_EQ(client.ReadAll(body), 12u);
    EXPECT_EQ(Text(body), "to the close");
    EXPECT_FALSE(client.SendRequest("GET", "/dies"));
    EXPECT_EQ(client.GetStatusCode(), 0u);
    EXPECT_FALSE(client.SendRequest("GET", "/garbled"));
    EXPECT_EQ(client.GetStatusCode(), 0u);
    EXPECT_EQ(client.GetContentLength(), 0u);
}

TEST(CHttpClientTest, UnreachableCameraFailsAndStreamReadsGiveNothing) {
    Web::CHttpClient client(Device(ClosedPort(), "u", "p", 1000), velmora::kHttpAgent);
    EXPECT_FALSE(client.SendRequest("GET", "/x"));
    EXPECT_EQ(client.GetStatusCode(), 0u);
    EXPECT_EQ(client.QueryAvailable(), 0u);
    uint8_t buffer[16];
    EXPECT_EQ(client.ReadSome(buffer, sizeof(buffer)), 0u);
    std::vector<uint8_t> body{1, 2, 3};
    EXPECT_EQ(client.ReadAll(body), 0u);
    EXPECT_TRUE(body.empty());
    EXPECT_FALSE(client.WriteData({1}));
}

TEST(CHttpClientTest, WriteDataOnlyOnAnOpenBodyAndNeverAfterAFailure) {
    ScriptedServer server;
    server.Add(HttpReply(200, "plain"));
    ScriptStep upload;
    upload.noReply = true;  // the camera reads packets and never answers
    server.Add(upload);
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    EXPECT_FALSE(client.WriteData({1, 2, 3}));  // no request at all
    ASSERT_TRUE(client.SendRequest("GET", "/plain"));
    EXPECT_FALSE(client.IsBodyOpen());
    EXPECT_FALSE(client.WriteData({1, 2, 3}));  // request not sent with a larger total
    EXPECT_FALSE(client.IsBodyOpen());

    const std::vector<uint8_t> packet(24, 0xAB);
    ASSERT_TRUE(client.SendRequestEx("POST", "/control/rotorcgi", {"Accept: multipart/x-mixed-replace,*/*"}, packet,
                                     24 * 4, Web::kRequestSendOnly | Web::kRequestIgnoreCertErrors));
    EXPECT_TRUE(client.IsBodyOpen());
    EXPECT_EQ(client.GetStatusCode(), 0u);  // not awaited
    EXPECT_FALSE(client.WriteData({}));     // empty: refused, body stays open
    EXPECT_TRUE(client.IsBodyOpen());
    EXPECT_TRUE(client.WriteData(packet));
    EXPECT_TRUE(client.WriteData(packet));
    ASSERT_TRUE(server.WaitForBodyBytes(1, 72));
    EXPECT_FALSE(client.WriteData(std::vector<uint8_t>(25, 1)));  // past the declared total
    EXPECT_FALSE(client.IsBodyOpen());
    EXPECT_FALSE(client.WriteData(packet));  // closed until a new request
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[1].method, "POST");
    EXPECT_EQ(reqs[1].Header("Content-Length"), "96");
    EXPECT_EQ(reqs[1].Header("Accept"), "multipart/x-mixed-replace,*/*");
    EXPECT_EQ(reqs[1].body, std::string(72, '\xAB'));
}

TEST(CHttpClientTest, FilledBodyClosesAndAFailedWriteClosesForGood) {
    ScriptedServer server;
    ScriptStep readTwo;
    readTwo.readBody = 8;  // takes two packets, then hangs up
    readTwo.closeAfter = true;
    readTwo.reply = "";
    server.Add(readTwo);
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    const std::vector<uint8_t> packet(4, 7);
    ASSERT_TRUE(client.SendRequestEx("POST", "/rotor", {}, packet, UINT32_MAX, Web::kRequestSendOnly));
    ASSERT_TRUE(client.WriteData(packet));
    ASSERT_TRUE(server.WaitForConnectionsClosed());
    // The peer is gone: once its reset has come back, a write fails, and then all do. The first
    // writes may still be buffered; the loop is bounded by a deadline far beyond the reset's way.
    bool failed = false;
    uint64_t deadline = velmora::platform::MonotonicMilliseconds() + 10000;
    while (!failed && velmora::platform::MonotonicMilliseconds() < deadline) {
        failed = !client.WriteData(packet);
        std::this_thread::yield();
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(client.IsBodyOpen());
    EXPECT_FALSE(client.WriteData(packet));

    // A body written to its declared end is no longer open.
    ScriptedServer second;
    second.Add(HttpReply(200, ""));
    Web::CHttpClient other(Device(second.Port()), velmora::kHttpAgent);
    ASSERT_TRUE(other.SendRequestEx("POST", "/p", {}, packet, 8, Web::kRequestSendOnly));
    EXPECT_TRUE(other.IsBodyOpen());
    EXPECT_TRUE(other.WriteData(packet));
    EXPECT_FALSE(other.IsBodyOpen());
    ASSERT_TRUE(second.WaitForBodyBytes(0, 8));
}

TEST(CHttpClientTest, ReadAllCollectsLongBodiesAndEmptyOnes) {
    ScriptedServer server;
    ScriptStep big;
    big.reply = "HTTP/1.1 200 OK\r\nContent-Length: 100003\r\n\r\n";
    big.streamBytes = 100003;
    server.Add(big);
    server.Add(HttpChunkedReply(200, {std::string(10240, 'a'), std::string(10241, 'b'), "c"}));
    server.Add(HttpReply(200, ""));
    server.Add(HttpReply(204, ""));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    std::vector<uint8_t> body;
    ASSERT_TRUE(client.SendRequest("GET", "/big"));
    EXPECT_EQ(client.ReadAll(body), 100003u);
    EXPECT_EQ(Text(body), Pattern(100003));
    ASSERT_TRUE(client.SendRequest("GET", "/chunked"));
    EXPECT_EQ(client.ReadAll(body), 20482u);
    EXPECT_EQ(Text(body), std::string(10240, 'a') + std::string(10241, 'b') + "c");
    for (const char* path : {"/empty", "/nocontent"}) {
        ASSERT_TRUE(client.SendRequest("GET", path));
        body.assign(5, 9);
        EXPECT_EQ(client.ReadAll(body), 0u) << path;
        EXPECT_TRUE(body.empty()) << path;
    }
    EXPECT_EQ(server.ConnectionCount(), 1);  // every body read to its end: one kept-alive connection
}

TEST(CHttpClientTest, StreamReadsFollowTheBodyToItsEnd) {
    ScriptedServer server;
    ScriptStep stream;
    stream.reply = "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=x\r\n\r\n";
    stream.streamBytes = 300000;
    stream.closeAfter = true;
    server.Add(stream);
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/control/faststream.jpg?stream=full&fps=0&noaudio"));
    std::string received;
    std::vector<uint8_t> buffer(1000);
    for (int guard = 0; guard < 100000; ++guard) {
        uint32_t available = client.QueryAvailable();
        if (available == 0) break;
        if (buffer.size() < available) buffer.resize(available);
        uint32_t got = client.ReadSome(buffer.data(), static_cast<uint32_t>(buffer.size()));
        ASSERT_GT(got, 0u);
        ASSERT_LE(got, available);
        received.append(buffer.begin(), buffer.begin() + got);
    }
    EXPECT_EQ(received, Pattern(300000));
    uint8_t b;
    EXPECT_EQ(client.ReadSome(&b, 1), 0u);
}

TEST(CHttpClientTest, ReadAllStopsAtTheCap) {
    const uint64_t size = uint64_t(Web::kReadAllMaxBytes) + 100000;
    ScriptedServer server;
    ScriptStep huge;
    huge.reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    huge.streamBytes = size;
    server.Add(huge);
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/huge"));
    std::vector<uint8_t> body;
    uint32_t total = client.ReadAll(body);
    EXPECT_GE(total, Web::kReadAllMaxBytes);
    EXPECT_LT(total, Web::kReadAllMaxBytes + Web::kReadAllChunkBytes);
    EXPECT_EQ(body.size(), total);
    EXPECT_EQ(body[total - 1], ScriptedServer::PatternByte(total - 1));
}

TEST(CHttpClientTest, NewRequestReplacesTheCurrentOne) {
    ScriptedServer server;
    ScriptStep stream;
    stream.reply = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nfirst";
    stream.holdAfter = true;
    server.Add(stream);
    server.Add(HttpReply(200, "second"));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/stream"));
    uint8_t buffer[5];
    ASSERT_EQ(client.ReadSome(buffer, 5), 5u);
    ASSERT_TRUE(client.SendRequest("GET", "/next"));
    std::vector<uint8_t> body;
    EXPECT_EQ(client.ReadAll(body), 6u);
    EXPECT_EQ(Text(body), "second");
    // The unfinished stream's connection could not be reused and was closed with its request;
    // the second one stays open in the keep-alive pool.
    EXPECT_EQ(server.ConnectionCount(), 2);
    EXPECT_TRUE(server.WaitForOpenConnections(1));
}
