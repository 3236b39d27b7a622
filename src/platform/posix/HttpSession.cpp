// Connection pool and authentication memory of an HTTP session.
#include "platform/posix/HttpSession.h"

#include <chrono>

namespace velmora::platform::http {

std::string ServerAddress::Key() const {
    std::string key;
    for (char c : host) key.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
    return key + ":" + std::to_string(port);
}

Timeouts Session::GetTimeouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeouts_;
}

void Session::SetTimeouts(const Timeouts& timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_ = timeouts;
}

void Session::SetMaxConnections(uint32_t count) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        maxConnections_ = count;
    }
    released_.notify_all();
}

void Session::SetNonceSource(std::function<std::string()> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    nonceSource_ = std::move(source);
}

std::string Session::NextClientNonce() {
    std::function<std::string()> source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source = nonceSource_;
    }
    return source ? source() : RandomClientNonce();
}

HttpAuthMemory::NonceSource Session::ClientNonceSource() {
    return [this] { return NextClientNonce(); };
}

std::shared_ptr<HttpAuthMemory> Session::AuthMemory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return authMemory_;
}

void Session::SetAuthMemory(std::shared_ptr<HttpAuthMemory> memory) {
    std::lock_guard<std::mutex> lock(mutex_);
    authMemory_ = std::move(memory);
}

bool Session::Acquire(const ServerAddress& server, TcpSocket* socket, bool* reused) {
    const std::string key = server.Key();
    uint32_t connectMs;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        connectMs = timeouts_.connectMs;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(connectMs);
        for (;;) {
            Server& s = servers_[key];
            // Newest idle first; one the peer has closed (or that holds stray bytes) is dropped.
            while (!s.idle.empty()) {
                TcpSocket candidate = std::move(s.idle.back());
                s.idle.pop_back();
                if (!candidate.LooksClosed()) {
                    *socket = std::move(candidate);
                    *reused = true;
                    return true;
                }
                --s.open;
            }
            if (s.open < maxConnections_) {
                ++s.open;
                break;
            }
            if (released_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
        }
    }
    // Connect outside the lock: other requests may use the pool meanwhile.
    TcpSocket fresh;
    if (!fresh.Connect(server.host, server.port, connectMs)) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --servers_[key].open;
        }
        released_.notify_one();
        return false;
    }
    *socket = std::move(fresh);
    *reused = false;
    return true;
}

void Session::Release(const ServerAddress& server, TcpSocket socket, bool reusable) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Server& s = servers_[server.Key()];
        if (reusable && socket.IsOpen() && s.idle.size() < maxConnections_) {
            s.idle.push_back(std::move(socket));
        } else {
            if (s.open > 0) --s.open;
            socket.Close();
        }
    }
    released_.notify_one();
}

}  // namespace velmora::platform::http
