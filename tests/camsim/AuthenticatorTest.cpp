// Basic and Digest verification of the simulator against the worked examples of RFC 7617, RFC 2617
// and RFC 7616.
#include "httpserver/Authenticator.h"

#include <gtest/gtest.h>

namespace camsim {
namespace {

// The worked example of RFC 7616.
constexpr const char* kUser = "Mufasa";
constexpr const char* kPassword = "Circle of Life";
constexpr const char* kRealm = "http-auth@example.org";
constexpr const char* kNonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
constexpr const char* kCnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
constexpr const char* kOpaque = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
constexpr const char* kMd5Response = "8ca523f5e9506fed4657c9700eebdbec";
constexpr const char* kSha256Response = "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1";

RequestHead Head(const std::string& authorization, const std::string& target = "/dir/index.html") {
    RequestHead head;
    size_t consumed = 0;
    std::string data = "GET " + target + " HTTP/1.1\r\nHost: example.org\r\n";
    if (!authorization.empty()) data += "Authorization: " + authorization + "\r\n";
    data += "\r\n";
    EXPECT_EQ(ParseRequestHead(data, &head, &consumed), ParseResult::Complete);
    return head;
}

std::string DigestAnswer(const char* algorithm, const char* response, const std::string& uri = "/dir/index.html") {
    return std::string("Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"") + uri +
           "\", algorithm=" + algorithm + ", nonce=\"" + kNonce + "\", nc=00000001, cnonce=\"" + kCnonce +
           "\", qop=auth, response=\"" + response + "\", opaque=\"" + kOpaque + "\"";
}

class CAuthenticatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        AuthSettings s;
        s.mode = AuthMode::Digest;
        s.user = kUser;
        s.password = kPassword;
        s.realm = kRealm;
        auth.Configure(s);
        auth.SetNonceSource([] { return std::string(kNonce); });
        auth.SetOpaque(kOpaque);
    }
    Authenticator auth;
};

TEST(CDigestTest, ComputesTheRfcResponses) {
    EXPECT_EQ(DigestResponse(DigestAlgorithm::Md5, kUser, kRealm, kPassword, "GET", "/dir/index.html", kNonce,
                             "00000001", kCnonce),
              kMd5Response);
    EXPECT_EQ(DigestResponse(DigestAlgorithm::Sha256, kUser, kRealm, kPassword, "GET", "/dir/index.html", kNonce,
                             "00000001", kCnonce),
              kSha256Response);
    // The worked example of RFC 2617.
    EXPECT_EQ(DigestResponse(DigestAlgorithm::Md5, "Mufasa", "testrealm@host.com", "Circle Of Life", "GET",
                             "/dir/index.html", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001", "0a4f113b"),
              "6629fae49393a05397450978507c4ef1");
}

TEST(CDigestTest, EncodesAndDecodesBase64) {
    EXPECT_EQ(Base64Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");  // RFC 7617
    const std::string samples[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar", std::string("\0\xff\x10", 3)};
    for (const std::string& s : samples) {
        std::string back;
        ASSERT_TRUE(Base64Decode(Base64Encode(s), &back)) << s;
        EXPECT_EQ(back, s);
    }
    std::string out;
    EXPECT_FALSE(Base64Decode("QWx", &out));       // not a multiple of four
    EXPECT_FALSE(Base64Decode("QW=x", &out));      // padding inside
    EXPECT_FALSE(Base64Decode("QW*x", &out));      // not in the alphabet
}

TEST(CDigestTest, ParsesAuthParams) {
    auto p = ParseAuthParams(R"(username="Mu\"fasa", Realm=r, nc=00000001 , qop="auth")");
    EXPECT_EQ(p["username"], "Mu\"fasa");
    EXPECT_EQ(p["realm"], "r");
    EXPECT_EQ(p["nc"], "00000001");
    EXPECT_EQ(p["qop"], "auth");
    EXPECT_TRUE(ParseAuthParams(R"(username="open)").empty());
    EXPECT_TRUE(ParseAuthParams("username").empty());
    EXPECT_TRUE(ParseAuthParams("a=b c=d").empty());
}

TEST_F(CAuthenticatorTest, AcceptsTheRfcAnswersForIssuedNonces) {
    std::vector<std::string> challenges = auth.Challenges(false);
    ASSERT_EQ(challenges.size(), 2u);  // SHA-256 first, then MD5, no Basic in Digest mode
    EXPECT_NE(challenges[0].find("algorithm=SHA-256"), std::string::npos);
    EXPECT_NE(challenges[1].find("algorithm=MD5"), std::string::npos);
    EXPECT_NE(challenges[1].find(std::string("nonce=\"") + kNonce + "\""), std::string::npos);
    EXPECT_NE(challenges[1].find("qop=\"auth\""), std::string::npos);
    EXPECT_EQ(auth.Check(Head(DigestAnswer("MD5", kMd5Response))), AuthVerdict::Accepted);
    EXPECT_EQ(auth.Check(Head(DigestAnswer("SHA-256", kSha256Response))), AuthVerdict::Accepted);
}

TEST_F(CAuthenticatorTest, RefusesWrongOrForeignAnswers) {
    auth.Challenges(false);
    struct Row {
        std::string authorization;
        AuthVerdict expected;
    };
    const Row rows[] = {
        {"", AuthVerdict::Missing},
        {DigestAnswer("MD5", "00000000000000000000000000000000"), AuthVerdict::Refused},  // wrong password
        {DigestAnswer("MD5", kSha256Response), AuthVerdict::Refused},                       // algorithm mix-up
        {DigestAnswer("MD5-sess", kMd5Response), AuthVerdict::Refused},                     // not offered
        {"Basic " + Base64Encode("Mufasa:Circle of Life"), AuthVerdict::Refused},           // Basic not offered
        {"Bearer abc", AuthVerdict::Refused},
        {"Digest username=\"Mufasa\"", AuthVerdict::Refused},                               // missing fields
    };
    for (const Row& row : rows) EXPECT_EQ(auth.Check(Head(row.authorization)), row.expected) << row.authorization;
    // The same answer for another target does not authorise it.
    EXPECT_EQ(auth.Check(Head(DigestAnswer("MD5", kMd5Response), "/admin/version")), AuthVerdict::Refused);
}

TEST_F(CAuthenticatorTest, ReportsUnknownNoncesAsStale) {
    // No challenge issued yet: the RFC nonce is correct but not one of ours.
    EXPECT_EQ(auth.Check(Head(DigestAnswer("MD5", kMd5Response))), AuthVerdict::StaleNonce);
    std::vector<std::string> challenges = auth.Challenges(true);
    ASSERT_FALSE(challenges.empty());
    EXPECT_NE(challenges[0].find("stale=true"), std::string::npos);
}

TEST_F(CAuthenticatorTest, HonoursTheOfferedAlgorithmsAndModes) {
    AuthSettings s = auth.Settings();
    s.offerSha256 = false;
    auth.Configure(s);
    std::vector<std::string> challenges = auth.Challenges(false);
    ASSERT_EQ(challenges.size(), 1u);
    EXPECT_EQ(auth.Check(Head(DigestAnswer("SHA-256", kSha256Response))), AuthVerdict::Refused);
    EXPECT_EQ(auth.Check(Head(DigestAnswer("MD5", kMd5Response))), AuthVerdict::Accepted);

    s.mode = AuthMode::Both;
    auth.Configure(s);
    challenges = auth.Challenges(false);
    ASSERT_EQ(challenges.size(), 2u);
    EXPECT_EQ(challenges.back().rfind("Basic ", 0), 0u);  // Basic after Digest
    EXPECT_EQ(auth.Check(Head("Basic " + Base64Encode("Mufasa:Circle of Life"))), AuthVerdict::Accepted);
    EXPECT_EQ(auth.Check(Head("Basic " + Base64Encode("Mufasa:circle of life"))), AuthVerdict::Refused);
    EXPECT_EQ(auth.Check(Head(DigestAnswer("MD5", kMd5Response))), AuthVerdict::Accepted);

    s.mode = AuthMode::None;
    auth.Configure(s);
    EXPECT_EQ(auth.Check(Head("")), AuthVerdict::Accepted);
}

}  // namespace
}  // namespace camsim
