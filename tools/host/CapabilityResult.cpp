// Capability query result and callback of the reference host.
#include "host/CapabilityResult.h"

#include <chrono>
#include <memory>

namespace quillon::host {

namespace {
std::string Text(const char* text) { return text ? text : ""; }
}  // namespace

struct CapabilityResult::TextSink : ICapabilityTextSink {
    std::string* target = nullptr;
    void SetText(const char* text) override { *target = Text(text); }
};

struct CapabilityResult::Entry : ICapabilityParameterEntry {
    ProbedParameter* target = nullptr;
    void SetEntryValue(const char* text) override { target->value = Text(text); }
    void SetOption(int32_t option) override { target->option = option; }
    void SetName(const char* name) override { target->name = Text(name); }
    void SetKind(int32_t kind) override { target->kind = kind; }
};

struct CapabilityResult::Resolutions : ICapabilityResolutionList {
    std::vector<ProbedResolution>* target = nullptr;
    void AddResolution(const char* name, uint32_t width, uint32_t height, uint32_t interval) override {
        target->push_back({Text(name), width, height, interval});
    }
};

struct CapabilityResult::Intervals : ICapabilityIntervalList {
    std::vector<uint32_t>* target = nullptr;
    void AddInterval(uint32_t milliseconds) override { target->push_back(milliseconds); }
};

CapabilityResult::CapabilityResult() : resolutionList_(std::make_unique<Resolutions>()) {
    resolutionList_->target = &resolutions;
}

CapabilityResult::~CapabilityResult() = default;

void CapabilityResult::SetCapability(int32_t id, int32_t value) { capabilities[id] = value; }
void CapabilityResult::SetModelName(const char* text) { model = Text(text); }

ICapabilityTextSink* CapabilityResult::GetConnectionField(int32_t index) {
    auto it = sinks_.find(index);
    if (it != sinks_.end()) return it->second;
    auto sink = std::make_unique<TextSink>();
    sink->target = &connection[index];
    sinks_[index] = sink.get();
    ownedSinks_.push_back(std::move(sink));
    return ownedSinks_.back().get();
}

ICapabilityParameterEntry* CapabilityResult::GetParameterEntry(int32_t index) {
    auto entry = std::make_unique<Entry>();
    entry->target = &parameters[index];
    entries_.push_back(std::move(entry));
    return entries_.back().get();
}

ICapabilityResolutionList* CapabilityResult::GetResolutionList() { return resolutionList_.get(); }

ICapabilityIntervalList* CapabilityResult::GetFrameIntervalList(int32_t formatCode) {
    auto& list = intervalLists_[formatCode];
    if (!list) {
        list = std::make_unique<Intervals>();
        list->target = &intervals[formatCode];
    }
    return list.get();
}

std::vector<std::string> CapabilityResult::ParameterValues() const {
    std::vector<std::string> values;
    for (int32_t i = 1; i <= 4; ++i) {
        auto it = parameters.find(i);
        values.push_back(it == parameters.end() ? "(none)" : it->second.value);
    }
    return values;
}

void CapabilityCallback::OnQuerySucceeded() {
    std::lock_guard<std::mutex> lock(mutex_);
    succeeded = true;
    done_ = true;
    cv_.notify_all();
}

void CapabilityCallback::OnQueryFailed(int32_t failureCode, const char* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    succeeded = false;
    code = failureCode;
    message = Text(text);
    done_ = true;
    cv_.notify_all();
}

bool CapabilityCallback::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

}  // namespace quillon::host
