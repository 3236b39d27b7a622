// Fault rules: construction helpers and the thread-safe rule list.
#include "camsim/Faults.h"

namespace camsim {

FaultRule FaultRule::Status(std::string prefix, int status, std::string body) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.status = status;
    r.body = std::move(body);
    return r;
}

FaultRule FaultRule::Stall(std::string prefix, uint32_t ms, uint64_t afterBytes) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.stallMs = ms;
    r.stallAfterBytes = afterBytes;
    return r;
}

FaultRule FaultRule::CloseAfter(std::string prefix, int64_t bytes) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.closeAfterBytes = bytes;
    return r;
}

FaultRule FaultRule::Garbage(std::string prefix, size_t bytes) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.garbageBytes = bytes;
    return r;
}

FaultRule FaultRule::Trickle(std::string prefix, size_t bytes, uint32_t intervalMs) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.trickleBytes = bytes;
    r.trickleIntervalMs = intervalMs;
    return r;
}

FaultRule FaultRule::Drip(std::string prefix, uint32_t intervalMs, DripFrom from) {
    FaultRule r = Trickle(std::move(prefix), 1, intervalMs);
    r.trickleBodyOnly = from == DripFrom::Body;
    return r;
}

FaultRule FaultRule::HugeHead(std::string prefix, size_t bytes, size_t lineBytes) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.headBytes = bytes;
    r.headLineBytes = lineBytes;
    return r;
}

FaultRule FaultRule::Damage(std::string prefix, StreamDamage damage) {
    FaultRule r;
    r.targetPrefix = std::move(prefix);
    r.damage = damage;
    return r;
}

int FaultSet::Add(FaultRule rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    int id = nextId_++;
    rules_.push_back({id, std::move(rule)});
    return id;
}

void FaultSet::Remove(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (it->id == id) {
            rules_.erase(it);
            return;
        }
    }
}

void FaultSet::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

std::optional<FaultRule> FaultSet::Take(std::string_view method, std::string_view target) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        const FaultRule& r = it->rule;
        if (r.uses == 0) continue;
        if (target.substr(0, r.targetPrefix.size()) != r.targetPrefix) continue;
        if (!r.method.empty() && r.method != method) continue;
        FaultRule taken = r;
        if (it->rule.uses > 0 && --it->rule.uses == 0) rules_.erase(it);
        return taken;
    }
    return std::nullopt;
}

size_t FaultSet::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rules_.size();
}

}  // namespace camsim
