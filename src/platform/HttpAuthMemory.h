// Per-device authentication memory, shared by every HTTP backend and by all the sessions of one
// device: which scheme each server asked for and the Digest challenge it gave, so that later
// requests authenticate at their first try while no credentials leave before a server asked for
// them. Thread-safe; hashing runs outside its lock.
//
// A backend's part, for a request that holds credentials (HttpSetCredentials): before each send,
// Prepare, and when the value is not empty send it as "Authorization" ("Proxy-Authorization" for
// the proxy target), replacing any earlier one; on a 401 (407 for the proxy) to a request whose
// whole body can be sent again, hand every WWW-Authenticate (Proxy-Authenticate) value to Answer
// with what the last send carried, and while it says so, at most kHttpMaxAuthResends times, send
// the request again with the value it gave. The memory does the rest.
//
// Rules:
// - A server that never challenged gets no Authorization header.
// - On a challenge: Digest when an answerable Digest challenge is offered (SHA-256 before MD5),
//   Basic only when Basic is the only scheme offered; anything else is not answered.
// - What was answered is remembered: Basic is then sent at once on later requests; Digest with the
//   known nonce and the nonce count counting up.
// - A challenge to credentials already sent is answered once more only when it cannot be a
//   refusal: the scheme changed, the nonce is marked stale, or a remembered nonce was replaced
//   (the server may have forgotten it, for example after a restart).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpDigest.h"

namespace velmora::platform {

// What one send carried, so that the answer to a challenge can tell a refusal from a new demand.
struct HttpAuthSent {
    uint32_t scheme = 0;      // 0 (nothing), kHttpAuthBasic or kHttpAuthDigest
    std::string nonce;        // Digest: the nonce answered
    bool remembered = false;  // taken from the memory rather than from a challenge to this send
};

struct HttpCredentials {
    uint32_t schemes = 0;  // permitted schemes: kHttpAuthBasic and/or kHttpAuthDigest
    std::string user;      // empty: no credentials at all
    std::string password;
};

// What a request is: where it goes and what it asks for, as the Digest response covers it.
struct HttpAuthRequest {
    std::string host;
    uint16_t port = 0;
    uint32_t target = 0;  // kHttpAuthTargetServer or kHttpAuthTargetProxy
    std::string method;
    std::string uri;
};

// The schemes this layer performs (kHttpAuthBasic, kHttpAuthDigest) among the challenges of a
// 401/407 answer's header values, and the first of them in the server's order. False when the
// answer offers none of them.
bool OfferedHttpAuthSchemes(const std::vector<std::string_view>& challenges, uint32_t* supported, uint32_t* first);

class HttpAuthMemory {
public:
    // Servers remembered at most; a memory serves one device, so this is never reached in use.
    static constexpr size_t kMaxServers = 64;

    using NonceSource = std::function<std::string()>;

    // The Authorization value for a fresh send: empty when the server has not asked for the
    // permitted scheme. *sent tells what was used.
    std::string Prepare(const HttpAuthRequest& request, const HttpCredentials& credentials,
                        const NonceSource& cnonce, HttpAuthSent* sent);
    // Learns from the challenge header values of a 401/407 answer to a send that carried
    // `previous`; true with the value to send again, false when the answer goes to the caller.
    bool Answer(const HttpAuthRequest& request, const std::vector<std::string_view>& challenges,
                const HttpCredentials& credentials, const NonceSource& cnonce, const HttpAuthSent& previous,
                std::string* value, HttpAuthSent* sent);
    // The scheme remembered for a server (0: none), for diagnostics and tests.
    uint32_t KnownScheme(const std::string& host, uint16_t port, uint32_t target) const;

private:
    struct Entry {
        uint32_t scheme = 0;
        http::DigestChallenge digest;
        uint32_t nonceCount = 0;
    };
    static std::string Key(const std::string& host, uint16_t port, uint32_t target);
    // The value for the entry's scheme; counts the nonce up under the lock, hashes outside it.
    std::string Make(const std::string& key, const HttpAuthRequest& request, const HttpCredentials& credentials,
                     const NonceSource& cnonce, HttpAuthSent* sent, bool remembered);

    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

}  // namespace velmora::platform
