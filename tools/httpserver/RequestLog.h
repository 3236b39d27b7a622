// The simulator's record of every request it received, for tests that assert on what a client sent.
//
// Thread-safe: connection threads add entries and append body bytes as they arrive; test threads
// read snapshots and wait for entries with a time-out. The log is bounded (oldest entries and body
// bytes beyond the cap are dropped) so a long-running simulator does not grow without limit.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/HttpMessage.h"

namespace camsim {

constexpr size_t kMaxLoggedRequests = 4096;
constexpr size_t kMaxLoggedBodyBytes = 8 * 1024 * 1024;

struct LoggedRequest {
    uint64_t id = 0;
    std::string method;
    std::string target;  // path with query
    std::string path;
    std::string query;
    std::vector<Header> headers;
    std::string body;           // decoded body bytes received so far
    bool bodyComplete = false;  // the whole declared body arrived
    bool bodyAborted = false;   // the client went away (or the body was malformed) before its end
    int status = 0;             // status of the response sent; 0 while none was sent

    std::optional<std::string> Find(std::string_view name) const;
};

class RequestLog {
public:
    using Match = std::function<bool(const LoggedRequest&)>;

    // Writers (connection threads).
    uint64_t Add(const RequestHead& head);
    void AppendBody(uint64_t id, const char* data, size_t size);
    void EndBody(uint64_t id, bool complete);
    void SetStatus(uint64_t id, int status);

    // Readers.
    std::vector<LoggedRequest> Snapshot() const;
    // Entries whose target (path with query) starts with the prefix, oldest first.
    std::vector<LoggedRequest> WithPrefix(std::string_view targetPrefix) const;
    size_t Count(std::string_view targetPrefix) const;
    // Waits until an entry satisfies match (checked again on every change of the log) and returns a
    // copy of the first such entry; nullopt when none did within the time-out. match runs under the
    // log's lock and must not call the log.
    std::optional<LoggedRequest> WaitFor(const Match& match, uint32_t timeoutMs) const;
    // Waits until at least count entries with the target prefix exist.
    bool WaitForCount(std::string_view targetPrefix, size_t count, uint32_t timeoutMs) const;
    void Clear();

private:
    LoggedRequest* FindLocked(uint64_t id);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<LoggedRequest> entries_;
    uint64_t nextId_ = 1;
};

}  // namespace camsim
