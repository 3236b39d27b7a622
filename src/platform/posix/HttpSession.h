// Session state of the POSIX HTTP layer: time-outs, the per-server pool of keep-alive
// connections with its connection limit, and the Digest challenges learned per server.
// Shared by its connections and requests; every member function is thread-safe.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Http.h"
#include "platform/Socket.h"
#include "platform/posix/HttpAuth.h"

namespace velmora::platform::http {

struct Timeouts {
    uint32_t connectMs = kHttpDefaultTimeoutMs;
    uint32_t sendMs = kHttpDefaultTimeoutMs;
    uint32_t receiveMs = kHttpDefaultTimeoutMs;
};

// The server a connection handle names.
struct ServerAddress {
    std::string host;
    uint16_t port = 0;
    std::string Key() const;
};

class Session {
public:
    explicit Session(std::string agent) : agent_(std::move(agent)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& Agent() const { return agent_; }
    Timeouts GetTimeouts() const;
    void SetTimeouts(const Timeouts& timeouts);
    void SetMaxConnections(uint32_t count);
    void SetNonceSource(std::function<std::string()> source);
    std::string NextClientNonce();

    // A connected socket to the server: an idle pooled one that still looks open (reused=true),
    // or a new one when the server has fewer than the limit; otherwise waits for a release, at
    // most the connect time-out. False on time-out or connect failure.
    bool Acquire(const ServerAddress& server, TcpSocket* socket, bool* reused);
    // Gives back a socket taken with Acquire; reusable ones are pooled, the rest closed.
    void Release(const ServerAddress& server, TcpSocket socket, bool reusable);

    // Digest challenge per server and target, with the nonce count of its nonce.
    void StoreDigestChallenge(const ServerAddress& server, uint32_t target, const DigestChallenge& challenge);
    // The known challenge and the next nonce count for it; false when none is known.
    bool NextDigestUse(const ServerAddress& server, uint32_t target, DigestChallenge* challenge, uint32_t* nc);

private:
    struct KnownChallenge {
        DigestChallenge challenge;
        uint32_t nonceCount = 0;
    };
    struct Server {
        uint32_t open = 0;  // in use plus idle
        std::vector<TcpSocket> idle;
        std::optional<KnownChallenge> digest[2];  // by target
    };

    const std::string agent_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    Timeouts timeouts_;
    uint32_t maxConnections_ = kHttpDefaultMaxConnectionsPerServer;
    std::function<std::string()> nonceSource_;
    std::map<std::string, Server> servers_;
};

}  // namespace velmora::platform::http
