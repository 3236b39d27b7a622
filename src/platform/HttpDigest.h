// HTTP authentication shared by every HTTP backend: challenge parsing (RFC 9110 auth-params),
// Basic credentials and Digest responses (RFC 7616: MD5, SHA-256, their -sess forms, qop=auth,
// userhash). Pure text code; the two operations that need the system (HexHash and
// RandomClientNonce) are a small per-platform hook in platform/<os>/HttpHash.cpp (POSIX:
// OpenSSL's libcrypto; Windows: bcrypt).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::platform::http {

// Most challenges read from one header value, and most parameters of one challenge.
constexpr size_t kMaxChallengesPerHeader = 16;
constexpr size_t kMaxParamsPerChallenge = 32;
// Bytes of random data in a generated client nonce (hex-encoded: twice as many characters).
constexpr size_t kClientNonceBytes = 16;

struct AuthChallenge {
    std::string scheme;  // lower case
    std::vector<std::pair<std::string, std::string>> params;  // names lower case, values unquoted
    std::string token68;

    const std::string* Param(std::string_view name) const;
};

// Parses a WWW-Authenticate / Proxy-Authenticate value, which may hold several challenges.
// Parsing stops at the first malformed part; the challenges before it are kept. The same
// grammar reads Authorization values (one scheme and its parameters).
std::vector<AuthChallenge> ParseChallenges(std::string_view value);

enum class DigestAlgorithm { Md5, Md5Sess, Sha256, Sha256Sess };

struct DigestChallenge {
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithmToken;  // as the server wrote it; empty when absent (MD5 then)
    DigestAlgorithm algorithm = DigestAlgorithm::Md5;
    bool qopAuth = false;   // "auth" offered: answer with qop=auth, nc and cnonce
    bool userhash = false;  // the user name is sent hashed
    bool stale = false;     // the previous nonce was merely out of date
};

// A Digest challenge this layer can answer: known algorithm, and qop absent or offering "auth".
bool ToDigestChallenge(const AuthChallenge& challenge, DigestChallenge* digest);
// The strongest answerable Digest challenge among several (SHA-256 before MD5, then order).
bool PickDigestChallenge(const std::vector<AuthChallenge>& challenges, DigestChallenge* digest);

struct DigestInput {
    std::string method;
    std::string uri;
    std::string user;
    std::string password;
    std::string cnonce;
    uint32_t nc = 1;
};

// Lower-case hex text of bytes, as the hooks below give their results.
std::string HexEncode(const unsigned char* bytes, size_t size);
// Per-platform hook: lower-case hex digest of data with the algorithm's hash (MD5 or SHA-256;
// the -sess forms use the same hash); empty if the hash is unavailable.
std::string HexHash(DigestAlgorithm algorithm, std::string_view data);
// The "response" value.
std::string DigestResponse(const DigestChallenge& challenge, const DigestInput& input);
// Complete Authorization value: "Digest username=..., response=...".
std::string DigestAuthorization(const DigestChallenge& challenge, const DigestInput& input);
// "Basic " + base64(user ":" password).
std::string BasicAuthorization(const std::string& user, const std::string& password);
std::string Base64Encode(std::string_view data);
// Per-platform hook: kClientNonceBytes random bytes from the system's cryptographic source,
// hex-encoded; empty on failure.
std::string RandomClientNonce();

// RFC 9110 tchar: a character of a token.
bool IsTokenChar(char c);
// True when the comma-separated list value holds the token (case-insensitive).
bool HasToken(std::string_view list, std::string_view token);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace velmora::platform::http
