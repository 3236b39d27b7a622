// Test-side use of the HTTP layer (platform/Http.h): handles owned for a test's scope, a session
// and connection to a loopback port, and reading a body to its end. Every loop is bounded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Http.h"

namespace quillon::test {

inline constexpr uint32_t kHttpTestTimeoutMs = 5000;

// Owns a handle for the test's scope.
class Handle {
public:
    explicit Handle(velmora::platform::HttpHandle h = nullptr) : h_(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    velmora::platform::HttpHandle get() const { return h_; }
    void Reset(velmora::platform::HttpHandle h = nullptr) {
        if (h_) velmora::platform::HttpCloseHandle(h_);
        h_ = h;
    }
    explicit operator bool() const { return h_ != nullptr; }

private:
    velmora::platform::HttpHandle h_;
};

// A session (agent "LayerTest/1", every time-out timeoutMs) and its connection to 127.0.0.1.
struct Client {
    explicit Client(uint16_t port, uint32_t timeoutMs = kHttpTestTimeoutMs) {
        using namespace velmora::platform;
        session.Reset(HttpOpenSession("LayerTest/1"));
        HttpSetTimeouts(session.get(), timeoutMs, timeoutMs, timeoutMs);
        connection.Reset(HttpConnect(session.get(), "127.0.0.1", port));
    }
    velmora::platform::HttpHandle Open(const std::string& verb = "GET", const std::string& path = "/x") {
        return velmora::platform::HttpOpenRequest(connection.get(), verb, path,
                                                  velmora::platform::kHttpFlagBypassProxyCache);
    }
    Handle session;
    Handle connection;
};

// Status code of the received response; 0 when there is none.
inline uint32_t Status(velmora::platform::HttpHandle r) {
    uint32_t code = 0;
    return velmora::platform::HttpQueryStatusCode(r, &code) ? code : 0;
}

// Reads the body to its end with reads of at most piece bytes; false when a call fails. Stops
// (true) once limit bytes have been read.
inline bool ReadBody(velmora::platform::HttpHandle r, std::string* body, uint32_t piece = 4096,
                     size_t limit = SIZE_MAX) {
    using namespace velmora::platform;
    body->clear();
    std::vector<char> buffer(piece);
    for (int guard = 0; guard < 1000000 && body->size() < limit; ++guard) {
        uint32_t available = 0;
        if (!HttpQueryDataAvailable(r, &available)) return false;
        if (available == 0) return true;
        uint32_t got = 0;
        if (!HttpReadData(r, buffer.data(), piece, &got)) return false;
        if (got == 0) return true;
        body->append(buffer.data(), got);
    }
    return body->size() >= limit;
}

}  // namespace quillon::test
