// Host-side recorders for capability-query tests: a result object whose sub-objects log every
// call in order, and a callback that keeps its notifications and lets a test wait for them.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "quillon/CapabilityQuery.h"

namespace quillon_test {

namespace ipc = velmora::ipcapture;

class ResultRecorder : public ipc::ICapabilityQueryResult {
public:
    // Calls as text, e.g. "SetCapability(0,1)", "Entry2.SetName(...)", "AddInterval(40)".
    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // Only the calls whose text starts with the prefix.
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
        std::vector<std::string> selected;
        for (const std::string& call : Calls()) {
            if (call.rfind(prefix, 0) == 0) selected.push_back(call);
        }
        return selected;
    }
    // Makes the getters hand out null, as a host without that list would.
    bool withoutResolutionList = false;
    bool withoutIntervalList = false;
    bool withoutParameterEntries = false;
    bool withoutConnectionFields = false;

    void SetCapability(int32_t id, int32_t value) override {
        Add("SetCapability(" + std::to_string(id) + "," + std::to_string(value) + ")");
    }
    void SetModelName(const char* model) override { Add("SetModelName(" + Text(model) + ")"); }
    ipc::ICapabilityTextSink* GetConnectionField(int32_t index) override {
        Add("GetConnectionField(" + std::to_string(index) + ")");
        if (withoutConnectionFields || index < 1 || index > 4) return nullptr;
        fields_[index - 1].owner = this;
        fields_[index - 1].index = index;
        return &fields_[index - 1];
    }
    ipc::ICapabilityParameterEntry* GetParameterEntry(int32_t index) override {
        Add("GetParameterEntry(" + std::to_string(index) + ")");
        if (withoutParameterEntries || index < 1 || index > 4) return nullptr;
        entries_[index - 1].owner = this;
        entries_[index - 1].index = index;
        return &entries_[index - 1];
    }
    ipc::ICapabilityResolutionList* GetResolutionList() override {
        Add("GetResolutionList()");
        if (withoutResolutionList) return nullptr;
        resolutions_.owner = this;
        return &resolutions_;
    }
    ipc::ICapabilityIntervalList* GetFrameIntervalList(int32_t formatCode) override {
        Add("GetFrameIntervalList(" + std::to_string(formatCode) + ")");
        if (withoutIntervalList) return nullptr;
        intervals_.owner = this;
        return &intervals_;
    }

private:
    static std::string Text(const char* text) { return text ? text : "<null>"; }
    void Add(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }

    struct Field : ipc::ICapabilityTextSink {
        ResultRecorder* owner = nullptr;
        int32_t index = 0;
        void SetText(const char* text) override {
            owner->Add("Field" + std::to_string(index) + ".SetText(" + Text(text) + ")");
        }
    };
    struct Entry : ipc::ICapabilityParameterEntry {
        ResultRecorder* owner = nullptr;
        int32_t index = 0;
        std::string Prefix() const { return "Entry" + std::to_string(index) + "."; }
        void SetEntryValue(const char* text) override { owner->Add(Prefix() + "SetEntryValue(" + Text(text) + ")"); }
        void SetOption(int32_t option) override { owner->Add(Prefix() + "SetOption(" + std::to_string(option) + ")"); }
        void SetName(const char* name) override { owner->Add(Prefix() + "SetName(" + Text(name) + ")"); }
        void SetKind(int32_t kind) override { owner->Add(Prefix() + "SetKind(" + std::to_string(kind) + ")"); }
    };
    struct Resolutions : ipc::ICapabilityResolutionList {
        ResultRecorder* owner = nullptr;
        void AddResolution(const char* name, uint32_t width, uint32_t height, uint32_t interval) override {
            owner->Add("AddResolution(" + Text(name) + "," + std::to_string(width) + "," + std::to_string(height) +
                       "," + std::to_string(interval) + ")");
        }
    };
    struct Intervals : ipc::ICapabilityIntervalList {
        ResultRecorder* owner = nullptr;
        void AddInterval(uint32_t milliseconds) override {
            owner->Add("AddInterval(" + std::to_string(milliseconds) + ")");
        }
    };

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    Field fields_[4];
    Entry entries_[4];
    Resolutions resolutions_;
    Intervals intervals_;
};

class CallbackRecorder : public ipc::ICapabilityQueryCallback {
public:
    struct Notification {
        bool succeeded = false;
        int32_t code = 0;
        std::string message;
    };

    void OnQuerySucceeded() override { Add({true, 0, ""}); }
    void OnQueryFailed(int32_t code, const char* message) override { Add({false, code, message ? message : ""}); }

    // True once a notification has arrived within the time.
    bool WaitForNotification(uint32_t milliseconds) { return WaitForNotifications(1, milliseconds); }
    // True once count notifications have arrived within the time.
    bool WaitForNotifications(size_t count, uint32_t milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return notifications_.size() >= count; });
    }
    std::vector<Notification> Notifications() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return notifications_;
    }

private:
    void Add(Notification notification) {
        std::lock_guard<std::mutex> lock(mutex_);
        notifications_.push_back(std::move(notification));
        arrived_.notify_all();
    }

    mutable std::mutex mutex_;
    std::vector<Notification> notifications_;
    std::condition_variable arrived_;
};

}  // namespace quillon_test
