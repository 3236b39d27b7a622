// Faults the simulator injects on demand: rules matched against each request, settable while it runs.
//
// A rule applies to requests whose target (path with query) starts with its prefix and, when a
// method is given, whose method matches. The first matching rule with uses left wins and loses one
// use. Response-side faults count the response bytes (status line and headers included) so that a
// test can cut or stall a stream at a chosen point. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "camsim/StreamDamage.h"

namespace camsim {

struct FaultRule {
    std::string targetPrefix;  // empty matches every request
    std::string method;        // empty matches every method

    // Answer this status (with body, or a short default text) instead of the handler; 0: none.
    // A 401 carries the challenges of the configured authentication (Basic when there is none).
    int status = 0;
    std::string body;
    // Pause the response for stallMs once stallAfterBytes response bytes went out (0: before any).
    uint32_t stallMs = 0;
    uint64_t stallAfterBytes = 0;
    // Drop the connection once this many response bytes went out (0: before any); -1: never.
    int64_t closeAfterBytes = -1;
    // Answer with this many bytes that are not HTTP at all, then close; 0: none.
    size_t garbageBytes = 0;
    // Send the response in pieces of trickleBytes, one piece per trickleIntervalMs; 0: no trickle.
    // trickleBodyOnly sends the head whole and trickles only the body.
    size_t trickleBytes = 0;
    uint32_t trickleIntervalMs = 0;
    bool trickleBodyOnly = false;
    // Header lines of about headLineBytes each, headBytes in all, ahead of the response's end of head.
    size_t headBytes = 0;
    size_t headLineBytes = 0;
    // Damage to the pictures of a live stream answered to the request (see StreamDamage).
    StreamDamage damage;
    // Number of requests the rule applies to; -1 for ever.
    int uses = -1;

    static FaultRule Status(std::string prefix, int status, std::string body = {});
    static FaultRule Stall(std::string prefix, uint32_t ms, uint64_t afterBytes = 0);
    static FaultRule CloseAfter(std::string prefix, int64_t bytes);
    static FaultRule Garbage(std::string prefix, size_t bytes);
    static FaultRule Trickle(std::string prefix, size_t bytes, uint32_t intervalMs);
    // One byte every intervalMs, from the first byte of the head, or from the first of the body.
    enum class DripFrom { Head, Body };
    static FaultRule Drip(std::string prefix, uint32_t intervalMs, DripFrom from);
    static FaultRule HugeHead(std::string prefix, size_t bytes, size_t lineBytes);
    static FaultRule Damage(std::string prefix, StreamDamage damage);
    FaultRule& Times(int n) {
        uses = n;
        return *this;
    }
    FaultRule& Method(std::string m) {
        method = std::move(m);
        return *this;
    }
};

class FaultSet {
public:
    // Adds a rule behind the existing ones; returns its id for Remove.
    int Add(FaultRule rule);
    void Remove(int id);
    void Clear();
    // The first rule matching the request that has uses left, after consuming one use.
    std::optional<FaultRule> Take(std::string_view method, std::string_view target);
    size_t Size() const;

private:
    struct Entry {
        int id;
        FaultRule rule;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> rules_;
    int nextId_ = 1;
};

}  // namespace camsim
