// Session state of the POSIX HTTP layer: time-outs, the per-server pool of keep-alive
// connections with its connection limit, and the authentication memory its requests use.
// Shared by its connections and requests; every member function is thread-safe.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Http.h"
#include "platform/Socket.h"
#include "platform/HttpAuthMemory.h"

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
    explicit Session(std::string agent)
        : agent_(std::move(agent)), authMemory_(std::make_shared<HttpAuthMemory>()) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& Agent() const { return agent_; }
    Timeouts GetTimeouts() const;
    void SetTimeouts(const Timeouts& timeouts);
    void SetMaxConnections(uint32_t count);
    void SetNonceSource(std::function<std::string()> source);
    std::string NextClientNonce();
    // The nonce source as the authentication memory takes it.
    HttpAuthMemory::NonceSource ClientNonceSource();
    std::shared_ptr<HttpAuthMemory> AuthMemory() const;
    void SetAuthMemory(std::shared_ptr<HttpAuthMemory> memory);

    // A connected socket to the server: an idle pooled one that still looks open (reused=true),
    // or a new one when the server has fewer than the limit; otherwise waits for a release, at
    // most the connect time-out. False on time-out or connect failure.
    bool Acquire(const ServerAddress& server, TcpSocket* socket, bool* reused);
    // Gives back a socket taken with Acquire; reusable ones are pooled, the rest closed.
    void Release(const ServerAddress& server, TcpSocket socket, bool reusable);

private:
    struct Server {
        uint32_t open = 0;  // in use plus idle
        std::vector<TcpSocket> idle;
    };

    const std::string agent_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    Timeouts timeouts_;
    uint32_t maxConnections_ = kHttpDefaultMaxConnectionsPerServer;
    std::function<std::string()> nonceSource_;
    std::shared_ptr<HttpAuthMemory> authMemory_;
    std::map<std::string, Server> servers_;
};

}  // namespace velmora::platform::http
