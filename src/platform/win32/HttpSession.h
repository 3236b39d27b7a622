// Session state of the Windows HTTP layer: the WinHTTP session with its time-outs, the
// per-server connection limit (counted here, since Wine's WinHTTP does not wait for a free
// connection), the client nonce source and the authentication memory. Shared by its connections
// and requests; every member function is thread-safe.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Http.h"
#include "platform/HttpAuthMemory.h"

namespace velmora::platform::http {

struct Timeouts {
    uint32_t connectMs = kHttpDefaultTimeoutMs;
    uint32_t sendMs = kHttpDefaultTimeoutMs;
    uint32_t receiveMs = kHttpDefaultTimeoutMs;
};

// Narrow text (system code page) to UTF-16 and back, as WinHTTP takes and gives it.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

class Session {
public:
    // Opens the WinHTTP session; Handle() is null when that failed.
    explicit Session(const std::string& agent);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    HINTERNET Handle() const { return handle_; }
    Timeouts GetTimeouts() const;
    bool SetTimeouts(const Timeouts& timeouts);
    // Gives a request the session's time-outs (WinHTTP copies them only when it is opened).
    bool ApplyTimeouts(HINTERNET request) const;
    bool SetMaxConnections(uint32_t count);

    void SetNonceSource(std::function<std::string()> source);
    HttpAuthMemory::NonceSource ClientNonceSource();
    std::shared_ptr<HttpAuthMemory> AuthMemory() const;
    void SetAuthMemory(std::shared_ptr<HttpAuthMemory> memory);

    // A connection slot to the server: taken at once when fewer than the limit are in use,
    // otherwise after a release, waiting at most the connect time-out. False on time-out.
    bool Acquire(const std::string& server);
    void Release(const std::string& server);

private:
    HINTERNET handle_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    Timeouts timeouts_;
    uint32_t maxConnections_ = kHttpDefaultMaxConnectionsPerServer;
    std::map<std::string, uint32_t> inUse_;
    std::function<std::string()> nonceSource_;
    std::shared_ptr<HttpAuthMemory> authMemory_;
};

}  // namespace velmora::platform::http
