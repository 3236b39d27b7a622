// Challenge parsing, Basic and Digest credentials of the shared authentication code, checked against the
// published examples of RFC 7616, RFC 2617, RFC 7617 and RFC 4648.
#include <gtest/gtest.h>

#include <string>

#include "platform/HttpDigest.h"

using namespace velmora::platform::http;

namespace {

// RFC 7616 section 3.9.1 example: user "Mufasa", password "Circle of Life", GET /dir/index.html.
constexpr const char* kRfc7616Realm = "http-auth@example.org";
constexpr const char* kRfc7616Nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
constexpr const char* kRfc7616Opaque = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";
constexpr const char* kRfc7616Cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";

std::string Rfc7616Challenge(const char* algorithm) {
    return std::string("Digest realm=\"") + kRfc7616Realm + "\", qop=\"auth, auth-int\", algorithm=" + algorithm +
           ", nonce=\"" + kRfc7616Nonce + "\", opaque=\"" + kRfc7616Opaque + "\"";
}

DigestInput Rfc7616Input() { return {"GET", "/dir/index.html", "Mufasa", "Circle of Life", kRfc7616Cnonce, 1}; }

DigestChallenge ParseDigest(const std::string& header) {
    auto challenges = ParseChallenges(header);
    DigestChallenge d;
    EXPECT_TRUE(PickDigestChallenge(challenges, &d)) << header;
    return d;
}

}  // namespace

TEST(CHttpAuthTest, DigestMatchesRfc7616ExampleForMd5AndSha256) {
    DigestChallenge md5 = ParseDigest(Rfc7616Challenge("MD5"));
    EXPECT_EQ(md5.algorithm, DigestAlgorithm::Md5);
    EXPECT_TRUE(md5.qopAuth);
    EXPECT_EQ(DigestResponse(md5, Rfc7616Input()), "8ca523f5e9506fed4657c9700eebdbec");

    DigestChallenge sha = ParseDigest(Rfc7616Challenge("SHA-256"));
    EXPECT_EQ(sha.algorithm, DigestAlgorithm::Sha256);
    EXPECT_EQ(DigestResponse(sha, Rfc7616Input()), "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
}

TEST(CHttpAuthTest, DigestMatchesRfc2617Example) {
    DigestChallenge d = ParseDigest(
        "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
    DigestInput in{"GET", "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b", 1};
    EXPECT_EQ(DigestResponse(d, in), "6629fae49393a05397450978507c4ef1");
}

TEST(CHttpAuthTest, ServerPreferringSha256IsAnsweredWithSha256) {
    // The RFC example offers both; the stronger one is chosen whatever the order.
    for (const std::string& header : {Rfc7616Challenge("MD5") + ", " + Rfc7616Challenge("SHA-256"),
                                      Rfc7616Challenge("SHA-256") + ", " + Rfc7616Challenge("MD5")}) {
        DigestChallenge d = ParseDigest(header);
        EXPECT_EQ(d.algorithm, DigestAlgorithm::Sha256) << header;
    }
}

TEST(CHttpAuthTest, AuthorizationHeaderCarriesEveryFieldAndParsesBack) {
    DigestChallenge d = ParseDigest(Rfc7616Challenge("SHA-256"));
    DigestInput in = Rfc7616Input();
    in.nc = 0x1a;
    std::string header = DigestAuthorization(d, in);
    auto parsed = ParseChallenges(header);
    ASSERT_EQ(parsed.size(), 1u) << header;
    const AuthChallenge& a = parsed[0];
    EXPECT_EQ(a.scheme, "digest");
    auto param = [&](const char* name) { return a.Param(name) ? *a.Param(name) : std::string("<absent>"); };
    EXPECT_EQ(param("username"), "Mufasa");
    EXPECT_EQ(param("realm"), kRfc7616Realm);
    EXPECT_EQ(param("uri"), "/dir/index.html");
    EXPECT_EQ(param("algorithm"), "SHA-256");
    EXPECT_EQ(param("nonce"), kRfc7616Nonce);
    EXPECT_EQ(param("nc"), "0000001a");
    EXPECT_EQ(param("cnonce"), kRfc7616Cnonce);
    EXPECT_EQ(param("qop"), "auth");
    EXPECT_EQ(param("opaque"), kRfc7616Opaque);
    EXPECT_EQ(param("response"), DigestResponse(d, in));
    EXPECT_EQ(param("userhash"), "<absent>");
}

TEST(CHttpAuthTest, UserNamesAreQuotedSafelyAndHashedOnRequest) {
    DigestChallenge d = ParseDigest("Digest realm=\"r\", nonce=\"n\", qop=auth");
    DigestInput in{"GET", "/", "we\"ird\\name", "pw", "c", 1};
    auto parsed = ParseChallenges(DigestAuthorization(d, in));
    ASSERT_EQ(parsed.size(), 1u);
    ASSERT_NE(parsed[0].Param("username"), nullptr);
    EXPECT_EQ(*parsed[0].Param("username"), "we\"ird\\name");

    DigestChallenge hashed = ParseDigest("Digest realm=\"r\", nonce=\"n\", qop=auth, algorithm=SHA-256, userhash=true");
    EXPECT_TRUE(hashed.userhash);
    auto withHash = ParseChallenges(DigestAuthorization(hashed, in));
    ASSERT_EQ(withHash.size(), 1u);
    EXPECT_EQ(*withHash[0].Param("username"), HexHash(DigestAlgorithm::Sha256, in.user + ":r"));
    EXPECT_EQ(*withHash[0].Param("userhash"), "true");
}

TEST(CHttpAuthTest, ChallengeVariantsTable) {
    struct Row {
        const char* header;
        bool answerable;
        DigestAlgorithm algorithm;
        bool qop;
        bool stale;
    } rows[] = {
        {"Digest realm=\"r\", nonce=\"n\"", true, DigestAlgorithm::Md5, false, false},  // RFC 2069 style
        {"Digest realm=\"r\", nonce=\"n\", qop=\"auth\", stale=TRUE", true, DigestAlgorithm::Md5, true, true},
        {"Digest realm=\"r\", nonce=\"n\", qop=\"auth\", algorithm=MD5-sess", true, DigestAlgorithm::Md5Sess, true, false},
        {"Digest realm=\"r\", nonce=\"n\", qop=\"auth\", algorithm=sha-256-sess", true, DigestAlgorithm::Sha256Sess, true, false},
        {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", false, DigestAlgorithm::Md5, false, false},  // needs body hash
        {"Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256, qop=auth", false, DigestAlgorithm::Md5, false, false},
        {"Digest realm=\"r\", nonce=\"n\", algorithm=MD5-sess", false, DigestAlgorithm::Md5, false, false},  // sess without qop
        {"Digest realm=\"r\", qop=auth", false, DigestAlgorithm::Md5, false, false},                       // no nonce
        {"Digest nonce=\"n\", qop=auth", false, DigestAlgorithm::Md5, false, false},                        // no realm
        {"Basic realm=\"r\"", false, DigestAlgorithm::Md5, false, false},
    };
    for (const auto& row : rows) {
        DigestChallenge d;
        bool ok = PickDigestChallenge(ParseChallenges(row.header), &d);
        EXPECT_EQ(ok, row.answerable) << row.header;
        if (!ok || !row.answerable) continue;
        EXPECT_EQ(d.algorithm, row.algorithm) << row.header;
        EXPECT_EQ(d.qopAuth, row.qop) << row.header;
        EXPECT_EQ(d.stale, row.stale) << row.header;
    }
}

TEST(CHttpAuthTest, SessAndLegacyResponsesFollowTheirFormulas) {
    // -sess: HA1 = H(H(user:realm:password):nonce:cnonce); legacy: H(HA1:nonce:HA2).
    DigestInput in{"GET", "/a", "u", "p", "cn", 3};
    DigestChallenge sess = ParseDigest("Digest realm=\"r\", nonce=\"n\", qop=auth, algorithm=MD5-sess");
    std::string ha1 = HexHash(DigestAlgorithm::Md5, HexHash(DigestAlgorithm::Md5, "u:r:p") + ":n:cn");
    std::string ha2 = HexHash(DigestAlgorithm::Md5, "GET:/a");
    EXPECT_EQ(DigestResponse(sess, in), HexHash(DigestAlgorithm::Md5, ha1 + ":n:00000003:cn:auth:" + ha2));

    DigestChallenge legacy = ParseDigest("Digest realm=\"r\", nonce=\"n\"");
    std::string plainHa1 = HexHash(DigestAlgorithm::Md5, "u:r:p");
    EXPECT_EQ(DigestResponse(legacy, in), HexHash(DigestAlgorithm::Md5, plainHa1 + ":n:" + ha2));
    std::string header = DigestAuthorization(legacy, in);
    EXPECT_EQ(header.find("cnonce"), std::string::npos) << header;
    EXPECT_EQ(header.find("qop"), std::string::npos) << header;
}

TEST(CHttpAuthTest, SeveralChallengesInOneHeaderValue) {
    auto c = ParseChallenges(
        "Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\", "
        "Bearer dGVzdA==, Digest realm=\"d\", nonce=\"x,y\"");
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].scheme, "newauth");
    EXPECT_EQ(*c[0].Param("title"), "Login to \"apps\"");
    EXPECT_EQ(*c[0].Param("type"), "1");
    EXPECT_EQ(c[1].scheme, "basic");
    EXPECT_EQ(*c[1].Param("realm"), "simple");
    EXPECT_EQ(c[2].scheme, "bearer");
    EXPECT_EQ(c[2].token68, "dGVzdA==");
    EXPECT_EQ(c[3].scheme, "digest");
    EXPECT_EQ(*c[3].Param("nonce"), "x,y");  // commas inside quotes stay in the value
}

TEST(CHttpAuthTest, MalformedChallengesKeepWhatParsedBefore) {
    auto c = ParseChallenges("Basic realm=\"ok\", Digest realm=\"unterminated");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].scheme, "basic");
    EXPECT_EQ(c[1].Param("realm"), nullptr);
    EXPECT_TRUE(ParseChallenges("").empty());
    EXPECT_TRUE(ParseChallenges(" , ,").empty());
    EXPECT_TRUE(ParseChallenges("=broken").empty());
    // A flood of parameters is bounded.
    std::string many = "Digest realm=\"r\"";
    for (int i = 0; i < 1000; ++i) many += ", p" + std::to_string(i) + "=v";
    auto flooded = ParseChallenges(many);
    ASSERT_EQ(flooded.size(), 1u);
    EXPECT_LE(flooded[0].params.size(), kMaxParamsPerChallenge);
}

TEST(CHttpAuthTest, Base64AndBasicMatchPublishedVectors) {
    // RFC 4648 section 10.
    const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},    {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) EXPECT_EQ(Base64Encode(v[0]), v[1]) << v[0];
    // RFC 7617 section 2.
    EXPECT_EQ(BasicAuthorization("Aladdin", "open sesame"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(CHttpAuthTest, RandomClientNoncesDiffer) {
    std::string a = RandomClientNonce();
    std::string b = RandomClientNonce();
    EXPECT_EQ(a.size(), kClientNonceBytes * 2);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
}
