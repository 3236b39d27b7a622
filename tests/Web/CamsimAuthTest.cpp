// The HTTP client against the in-process camera simulator with each of its authentication modes.
#include <gtest/gtest.h>

#include "Driver/IDriver.h"
#include "Web/CameraRequest.h"
#include "Web/HttpClient.h"
#include "camsim/CameraSimulator.h"

namespace {

constexpr const char* kPath = "/cgi-bin/rinfo?querydata=basic";
constexpr const char* kUser = "admin";
constexpr const char* kPassword = "meinsm";

velmora::DEVICE_INFO Device(const camsim::CameraSimulator& sim, const std::string& user, const std::string& password) {
    velmora::DEVICE_INFO d;
    d.Address = sim.Host();
    d.Port = sim.Port();
    d.UserName = user;
    d.Password = password;
    return d;
}

std::string AuthorizationScheme(const camsim::LoggedRequest& r) {
    auto value = r.Find("Authorization");
    if (!value) return "none";
    return value->substr(0, value->find(' '));
}

}  // namespace

TEST(CCamsimAuthTest, EachModeIsPassedWithTheRightCredentials) {
    struct Row {
        camsim::AuthMode mode;
        const char* name;
        std::vector<std::string> schemes;  // Authorization scheme of each request the first query makes
    } rows[] = {
        {camsim::AuthMode::None, "none", {"none"}},            // never asked: the password never leaves
        {camsim::AuthMode::Basic, "basic", {"none", "Basic"}},
        {camsim::AuthMode::Digest, "digest", {"none", "Digest"}},
        {camsim::AuthMode::Both, "both", {"none", "Digest"}},  // Digest preferred when both are offered
    };
    for (const auto& row : rows) {
        camsim::CameraSimulator sim;
        ASSERT_TRUE(sim.Start()) << row.name;
        sim.SetAuth(row.mode, kUser, kPassword);
        const auto device = Device(sim, kUser, kPassword);
        Web::CHttpClient client(device, velmora::kHttpAgent);
        std::vector<uint8_t> body;
        velmora::CResultDef result = velmora::Utils::SendRequestWrapper(kPath, body, client);
        EXPECT_EQ(result.code, 0) << row.name << ": " << result.message;
        EXPECT_GT(body.size(), 1u) << row.name;
        auto log = sim.Requests().Snapshot();
        ASSERT_EQ(log.size(), row.schemes.size()) << row.name;
        for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(AuthorizationScheme(log[i]), row.schemes[i]) << row.name;
        // The learned scheme goes first on the next request, and on other clients made from the
        // same device record: no further challenge.
        Web::CHttpClient first(device, velmora::kHttpAgent), second(device, velmora::kHttpAgent);
        ASSERT_TRUE(client.SendRequest("GET", kPath)) << row.name;
        ASSERT_TRUE(first.SendRequest("GET", kPath)) << row.name;
        EXPECT_EQ(first.GetStatusCode(), 200u) << row.name;
        ASSERT_TRUE(second.SendRequest("GET", kPath)) << row.name;
        EXPECT_EQ(second.GetStatusCode(), 200u) << row.name;
        log = sim.Requests().Snapshot();
        ASSERT_EQ(log.size(), row.schemes.size() + 3) << row.name;
        for (size_t i = row.schemes.size(); i < log.size(); ++i)
            EXPECT_EQ(AuthorizationScheme(log[i]), row.schemes.back()) << row.name;
    }
}

TEST(CCamsimAuthTest, WrongOrMissingCredentialsEndWith401) {
    for (auto mode : {camsim::AuthMode::Basic, camsim::AuthMode::Digest, camsim::AuthMode::Both}) {
        camsim::CameraSimulator sim;
        ASSERT_TRUE(sim.Start());
        sim.SetAuth(mode, kUser, kPassword);
        Web::CHttpClient wrong(Device(sim, kUser, "guess"), velmora::kHttpAgent);
        EXPECT_TRUE(wrong.SendRequest("GET", kPath));
        EXPECT_EQ(wrong.GetStatusCode(), 401u);
        Web::CHttpClient anonymous(Device(sim, "", ""), velmora::kHttpAgent);
        std::vector<uint8_t> body;
        velmora::CResultDef result = velmora::Utils::SendRequestWrapper(kPath, body, anonymous);
        EXPECT_EQ(result.code, velmora::CResultDef::kRequestRejected);
        EXPECT_NE(result.message.find("status code = 401"), std::string::npos) << result.message;
        // A bounded number of requests: an answer that is refused again is final.
        EXPECT_LE(sim.Requests().Snapshot().size(), 4u);
    }
}

TEST(CCamsimAuthTest, LiveStreamThroughDigestIsReadable) {
    camsim::CameraSimulator sim;
    ASSERT_TRUE(sim.Start());
    sim.SetAuth(camsim::AuthMode::Digest, kUser, kPassword);
    Web::CHttpClient client(Device(sim, kUser, kPassword), velmora::kHttpAgent);
    ASSERT_TRUE(client.SendRequest("GET", "/control/faststream.jpg?stream=full&fps=0&noaudio"));
    ASSERT_EQ(client.GetStatusCode(), 200u);
    // Two complete JPEG pictures (start and end markers) arrive through the streaming reads.
    std::vector<uint8_t> data, buffer(65536);
    size_t pictures = 0, starts = 0;
    for (int guard = 0; guard < 10000 && pictures < 2; ++guard) {
        uint32_t available = client.QueryAvailable();
        ASSERT_GT(available, 0u);
        uint32_t got = client.ReadSome(buffer.data(), static_cast<uint32_t>(buffer.size()));
        ASSERT_GT(got, 0u);
        for (uint32_t i = 0; i < got; ++i) {
            data.push_back(buffer[i]);
            size_t n = data.size();
            if (n >= 2 && data[n - 2] == 0xFF && data[n - 1] == 0xD8) ++starts;
            if (n >= 2 && data[n - 2] == 0xFF && data[n - 1] == 0xD9) ++pictures;
        }
    }
    EXPECT_GE(pictures, 2u);
    EXPECT_GE(starts, pictures);
}
