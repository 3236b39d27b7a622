// HTTP authentication of the simulator: none, Basic (RFC 7617), Digest (RFC 7616: MD5 and SHA-256,
// qop=auth, server nonces) or both offered. Hashes come from OpenSSL's EVP interface.
//
// Thread-safe: every connection thread calls Check and Challenges; tests reconfigure at any time.
// Nonces come from an injectable source so tests can reproduce the RFC's worked examples.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/HttpMessage.h"

namespace camsim {

enum class AuthMode { None, Basic, Digest, Both };

struct AuthSettings {
    AuthMode mode = AuthMode::None;
    std::string user = "admin";
    std::string password = "meinsm";
    std::string realm = "camsim";
    bool offerSha256 = true;  // Digest challenges: SHA-256 is offered first, then MD5
    bool offerMd5 = true;
};

enum class AuthVerdict {
    Accepted,
    Missing,    // no Authorization header (or one whose scheme is not offered)
    Refused,    // wrong credentials or a malformed/foreign answer
    StaleNonce  // correct Digest answer to a nonce this server no longer knows
};

enum class DigestAlgorithm { Md5, Sha256 };

// Remembered nonces; older ones become stale.
constexpr size_t kMaxRememberedNonces = 1024;

class Authenticator {
public:
    using NonceSource = std::function<std::string()>;

    Authenticator();
    void Configure(const AuthSettings& settings);
    AuthSettings Settings() const;
    // Replaces the random nonce source (tests); the opaque value is fixed likewise.
    void SetNonceSource(NonceSource source);
    void SetOpaque(std::string opaque);

    AuthVerdict Check(const RequestHead& head);
    // WWW-Authenticate values for a 401: Digest (SHA-256, then MD5) before Basic, as configured;
    // each Digest challenge carries a fresh nonce. With mode None, a Basic challenge.
    std::vector<std::string> Challenges(bool stale);

private:
    AuthVerdict CheckBasic(std::string_view credentials, const AuthSettings& s) const;
    AuthVerdict CheckDigest(std::string_view params, const RequestHead& head, const AuthSettings& s);

    mutable std::mutex mutex_;
    AuthSettings settings_;
    NonceSource nonceSource_;
    std::string opaque_;
    std::deque<std::string> nonces_;
};

// Building blocks, public for tests.
std::string Base64Encode(std::string_view data);
bool Base64Decode(std::string_view text, std::string* out);
// Lower-case hex digest of data.
std::string HexDigest(DigestAlgorithm algorithm, std::string_view data);
// The auth-params of a Digest answer (RFC 9110 auth-param syntax): names lower-cased, quoted strings
// unescaped. Malformed input gives an empty map.
std::map<std::string, std::string> ParseAuthParams(std::string_view text);
// The "response" value of RFC 7616 for qop=auth.
std::string DigestResponse(DigestAlgorithm algorithm, std::string_view user, std::string_view realm,
                           std::string_view password, std::string_view method, std::string_view uri,
                           std::string_view nonce, std::string_view nc, std::string_view cnonce);

}  // namespace camsim
