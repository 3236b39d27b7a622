// Test-side synchronisation with bounded waits: a gate that threads wait on until the test
// opens it, and a counter that can be waited for. Every wait takes a time-out.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quillon::test {

// Generous bound for events that should happen almost at once; only reached on a fault.
inline constexpr uint32_t kEventTimeoutMs = 10000;

class Gate {
public:
    // Notifies under the lock: a waiter may destroy the gate as soon as it sees it open.
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    // True once the gate is open; false on time-out.
    bool Wait(uint32_t timeoutMs = kEventTimeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return open_; });
    }
    bool IsOpen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

class WaitableCounter {
public:
    void Add(int64_t n = 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ += n;
        cv_.notify_all();
    }
    int64_t Value() {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    // True once the value has reached at least `target`; false on time-out.
    bool WaitFor(int64_t target, uint32_t timeoutMs = kEventTimeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return value_ >= target; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int64_t value_ = 0;
};

// Ordered record of what happened, shared by fakes and the test.
class Journal {
public:
    void Add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(entry);
        cv_.notify_all();
    }
    std::vector<std::string> Entries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    bool WaitForSize(size_t count, uint32_t timeoutMs = kEventTimeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return entries_.size() >= count; });
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> entries_;
};

}  // namespace quillon::test
