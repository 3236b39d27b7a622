// Bounded, thread-safe request log with waits for tests.
#include "httpserver/RequestLog.h"

#include <algorithm>
#include <chrono>

namespace camsim {

std::optional<std::string> LoggedRequest::Find(std::string_view name) const {
    for (const Header& h : headers)
        if (EqualsIgnoreCase(h.name, name)) return h.value;
    return std::nullopt;
}

uint64_t RequestLog::Add(const RequestHead& head) {
    std::lock_guard<std::mutex> lock(mutex_);
    LoggedRequest entry;
    entry.id = nextId_++;
    entry.method = head.method;
    entry.target = head.target;
    entry.path = head.path;
    entry.query = head.query;
    entry.headers = head.headers;
    if (entries_.size() >= kMaxLoggedRequests) entries_.pop_front();
    entries_.push_back(std::move(entry));
    changed_.notify_all();
    return entries_.back().id;
}

LoggedRequest* RequestLog::FindLocked(uint64_t id) {
    // Ids rise by one per entry, but Clear and the cap remove entries; search from the back,
    // where the connection's current request almost always is.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->id == id) return &*it;
        if (it->id < id) break;
    }
    return nullptr;
}

void RequestLog::AppendBody(uint64_t id, const char* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    LoggedRequest* entry = FindLocked(id);
    if (!entry) return;
    size_t room = kMaxLoggedBodyBytes - std::min(entry->body.size(), kMaxLoggedBodyBytes);
    entry->body.append(data, std::min(size, room));
    changed_.notify_all();
}

void RequestLog::EndBody(uint64_t id, bool complete) {
    std::lock_guard<std::mutex> lock(mutex_);
    LoggedRequest* entry = FindLocked(id);
    if (!entry) return;
    entry->bodyComplete = complete;
    entry->bodyAborted = !complete;
    changed_.notify_all();
}

void RequestLog::SetStatus(uint64_t id, int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    LoggedRequest* entry = FindLocked(id);
    if (!entry) return;
    entry->status = status;
    changed_.notify_all();
}

std::vector<LoggedRequest> RequestLog::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::vector<LoggedRequest> RequestLog::WithPrefix(std::string_view targetPrefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& e : entries_)
        if (std::string_view(e.target).substr(0, targetPrefix.size()) == targetPrefix) out.push_back(e);
    return out;
}

size_t RequestLog::Count(std::string_view targetPrefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const LoggedRequest& e : entries_)
        if (std::string_view(e.target).substr(0, targetPrefix.size()) == targetPrefix) ++n;
    return n;
}

std::optional<LoggedRequest> RequestLog::WaitFor(const Match& match, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (const LoggedRequest& e : entries_)
            if (match(e)) return e;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (const LoggedRequest& e : entries_)
                if (match(e)) return e;
            return std::nullopt;
        }
    }
}

bool RequestLog::WaitForCount(std::string_view targetPrefix, size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    auto counted = [&] {
        size_t n = 0;
        for (const LoggedRequest& e : entries_)
            if (std::string_view(e.target).substr(0, targetPrefix.size()) == targetPrefix) ++n;
        return n >= count;
    };
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), counted);
}

void RequestLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    changed_.notify_all();
}

}  // namespace camsim
