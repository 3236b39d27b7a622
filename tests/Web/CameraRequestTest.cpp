// The checked camera request: result codes, levels, exact messages and the reply buffer.
#include <gtest/gtest.h>

#include "Driver/IDriver.h"
#include "Web/CameraRequest.h"
#include "platform/Socket.h"
#include "support/ScriptedServer.h"

using quillon::test::HttpReply;
using quillon::test::ScriptedServer;
using velmora::CResultDef;

namespace {

velmora::DEVICE_INFO Device(uint16_t port) {
    velmora::DEVICE_INFO d;
    d.Address = "127.0.0.1";
    d.Port = port;
    d.RequestTimeout = 2000;
    return d;
}

std::string Peer(uint16_t port) { return "host 127.0.0.1:" + std::to_string(port); }

}  // namespace

TEST(CCameraRequestTest, SuccessHoldsTheReplyPlusAZeroByte) {
    ScriptedServer server;
    server.Add(HttpReply(200, "framerate100=2500\r\n"));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    std::vector<uint8_t> body{9, 9};
    CResultDef r = velmora::Utils::SendRequestWrapper("/control/control?list&section=imagecontrol", body, client);
    EXPECT_EQ(r.code, CResultDef::kSuccess);
    EXPECT_EQ(r.level, 3);
    EXPECT_EQ(r.message, "");
    ASSERT_EQ(body.size(), 20u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data())), "framerate100=2500\r\n");
    EXPECT_EQ(body.back(), 0);
    EXPECT_EQ(server.Requests().at(0).method, "GET");
    EXPECT_EQ(server.Requests().at(0).target, "/control/control?list&section=imagecontrol");
}

TEST(CCameraRequestTest, ErrorStatusGivesCode8WithoutReadingTheBody) {
    ScriptedServer server;
    server.Add(HttpReply(404, "not here"));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    std::vector<uint8_t> body{1};
    CResultDef r = velmora::Utils::SendRequestWrapper("/admin/version", body, client);
    EXPECT_EQ(r.code, 8);
    EXPECT_EQ(r.level, 1);
    EXPECT_EQ(r.message, "velmora::Utils::SendRequestWrapper: " + Peer(server.Port()) +
                             " sent does not process request \"/admin/version\", status code = 404");
    EXPECT_TRUE(body.empty());
}

TEST(CCameraRequestTest, EmptyReplyGivesCode13AndOneZeroByte) {
    ScriptedServer server;
    server.Add(HttpReply(200, ""));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    std::vector<uint8_t> body;
    CResultDef r = velmora::Utils::SendRequestWrapper("/cgi-bin/rinfo?querydata=basic", body, client);
    EXPECT_EQ(r.code, 13);
    EXPECT_EQ(r.level, 1);
    EXPECT_EQ(r.message, "velmora::Utils::SendRequestWrapper: incorrect response for request "
                         "\"/cgi-bin/rinfo?querydata=basic\" from " + Peer(server.Port()));
    EXPECT_EQ(body, std::vector<uint8_t>{0});
}

TEST(CCameraRequestTest, UnreachableCameraGivesCode11AtLevel4) {
    velmora::platform::TcpSocket probe;
    ASSERT_TRUE(probe.Listen("127.0.0.1", 0));
    uint16_t port = probe.LocalPort();
    probe.Close();
    Web::CHttpClient client(Device(port), velmora::kHttpAgent);
    std::vector<uint8_t> body{5};
    CResultDef r = velmora::Utils::SendRequestWrapper("/control/rotorcgi?help", body, client);
    EXPECT_EQ(r.code, 11);
    EXPECT_EQ(r.level, 4);
    EXPECT_EQ(r.message, "velmora::Utils::SendRequestWrapper: can not send request \"/control/rotorcgi?help\" to " +
                             Peer(port));
    EXPECT_TRUE(body.empty());
}

TEST(CCameraRequestTest, GivenRecordIsResetFilledAndReturned) {
    ScriptedServer server;
    server.Add(HttpReply(500, "boom"));
    server.Add(HttpReply(200, "OK"));
    Web::CHttpClient client(Device(server.Port()), velmora::kHttpAgent);
    std::vector<uint8_t> body;
    CResultDef given(2, CResultDef::kInvalidCommand, "old text");
    CResultDef returned = velmora::Utils::SendRequestWrapper("/a", body, given, client);
    EXPECT_EQ(given.code, CResultDef::kRequestRejected);
    EXPECT_EQ(returned.code, given.code);
    EXPECT_EQ(returned.level, given.level);
    EXPECT_EQ(returned.message, given.message);
    EXPECT_NE(given.message.find("status code = 500"), std::string::npos);
    returned = velmora::Utils::SendRequestWrapper("/b", body, given, client);
    EXPECT_EQ(given.code, 0);
    EXPECT_EQ(given.level, 3);
    EXPECT_TRUE(given.message.empty());
}

TEST(CCameraRequestTest, ResultRecordDefaultsAndCodes) {
    CResultDef r;
    EXPECT_EQ(r.level, 3);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.message.empty());
    EXPECT_TRUE(r.Succeeded());
    CResultDef copy = CResultDef(1, CResultDef::kCameraRejectedParameters, "ERR: size");
    CResultDef second(copy);
    EXPECT_EQ(second.code, 14);
    EXPECT_EQ(second.message, "ERR: size");
    EXPECT_FALSE(second.Succeeded());
    const int32_t codes[] = {CResultDef::kSuccess,        CResultDef::kInputUnavailable, CResultDef::kInvalidCommand,
                             CResultDef::kOutOfMemory,    CResultDef::kRequestRejected,  CResultDef::kRequestNotSent,
                             CResultDef::kEmptyReply,     CResultDef::kCameraRejectedParameters};
    const int32_t expected[] = {0, 1, 3, 6, 8, 11, 13, 14};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(codes[i], expected[i]);
}
