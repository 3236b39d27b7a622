// Stand-ins of the PTZ tests: a recording driver, a command object whose worker can be held, and a
// control object built on it. Every wait is bounded.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Driver/IDriver.h"
#include "PTZ/BasePTZComm.h"
#include "PTZ/BasePTZControl.h"
#include "platform/Sync.h"

namespace ptztest {

constexpr uint32_t kWaitMs = 10000;  // bound for things that should happen almost at once

struct Message {
    int level;
    std::string text;
};

// IDriver that records messages and hands out what the test set. Thread-safe.
class FakePtzDriver : public velmora::IDriver {
public:
    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        va_list copy;
        va_copy(copy, args);
        const int length = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
        if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(mutex_);
        messages_.push_back({level, text});
        changed_.notify_all();
    }
    velmora::DEVICE_INFO GetDeviceInfo() override {
        std::lock_guard<std::mutex> guard(mutex_);
        return device_;
    }
    std::pair<int32_t, int32_t> GetIOCount() override { return {0, 0}; }
    velmora::ipcapture::ISampleAllocator* GetSampleAllocator() override { return nullptr; }
    int32_t GetVideoStandard() override { return 0; }
    int32_t GetStreamType() override { return velmora::kStreamMjpeg; }
    int32_t GetChannelCount() override { return 1; }
    velmora::StreamParameters GetChannelParameters(uint32_t channel) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = streams_.find(channel);
        return found == streams_.end() ? velmora::StreamParameters{} : found->second;
    }
    std::string GetParameter(int32_t key) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = parameters_.find(key);
        return found == parameters_.end() ? std::string() : found->second;
    }
    int32_t GetParameterInt(int32_t) override { return INT32_MIN; }

    void SetDevice(const std::string& address, uint16_t port, int32_t timeoutMs = 3000) {
        std::lock_guard<std::mutex> guard(mutex_);
        device_.Address = address;
        device_.Port = port;
        device_.RequestTimeout = timeoutMs;
        device_.StreamTimeout = timeoutMs;
    }
    void SetParameter(int32_t key, const std::string& value) {
        std::lock_guard<std::mutex> guard(mutex_);
        parameters_[key] = value;
    }
    void SetStream(uint32_t channel, const velmora::StreamParameters& parameters) {
        std::lock_guard<std::mutex> guard(mutex_);
        streams_[channel] = parameters;
    }

    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> guard(mutex_);
        return messages_;
    }
    size_t Count(const std::string& fragment) {
        std::lock_guard<std::mutex> guard(mutex_);
        return CountLocked(fragment);
    }
    bool WaitFor(const std::string& fragment, size_t times = 1, uint32_t timeoutMs = kWaitMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return CountLocked(fragment) >= times; });
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        messages_.clear();
    }

private:
    size_t CountLocked(const std::string& fragment) const {
        size_t n = 0;
        for (const Message& m : messages_) n += m.text.find(fragment) != std::string::npos ? 1 : 0;
        return n;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
    velmora::DEVICE_INFO device_;
    std::map<uint32_t, velmora::StreamParameters> streams_;
    std::map<int32_t, std::string> parameters_;
};

// What the fake command object's worker saw of one command.
struct Executed {
    int32_t commandId;
    int32_t subCommand;
    int32_t speed;
    int32_t directionOrX;
    int32_t y;
    int32_t zoomFactor;
    IIPParams* parameters;
    std::string threadName;
};

// CBasePTZComm whose worker records each command; Hold() makes the worker wait inside the next
// command until Release(). Results to report can be fed through Fail().
class FakeComm : public velmora::CBasePTZComm {
public:
    FakeComm(const velmora::CPtzCapabilities& capabilities, velmora::IDriver* driver, uint16_t channel = 0)
        : CBasePTZComm(capabilities, driver, channel) {}
    ~FakeComm() override { Close(); }

    void HandleWorkItem(IWorkItem* item) override {
        auto* command = dynamic_cast<CWorkItem*>(item);
        char name[64] = {};
        velmora::platform::GetCurrentThreadNameCopy(name, sizeof(name));
        std::unique_lock<std::mutex> lock(mutex_);
        executed_.push_back({command->commandId, command->subCommand, command->speed, command->directionOrX, command->y,
                             command->zoomFactor, command->parameters, name});
        changed_.notify_all();
        if (held_) {
            inside_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return !held_; });
            inside_ = false;
        }
        if (throwNext_) {
            throwNext_ = false;
            throw std::runtime_error("command failed");
        }
    }
    bool StorePreposition(uint32_t, const std::string&) override { return true; }
    bool RecallPreposition(uint32_t, const std::string&, int32_t) override { return true; }

    void Hold() {
        std::lock_guard<std::mutex> guard(mutex_);
        held_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> guard(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    void ThrowOnNext() {
        std::lock_guard<std::mutex> guard(mutex_);
        throwNext_ = true;
    }
    // Waits until the worker is held inside a command.
    bool WaitHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return inside_; });
    }
    bool WaitExecuted(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return executed_.size() >= count; });
    }
    std::vector<Executed> ExecutedCommands() {
        std::lock_guard<std::mutex> guard(mutex_);
        return executed_;
    }
    // Feeds one finished command result through the failure throttle.
    void Fail(const velmora::CResultDef& result) { ReportFailure(result); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Executed> executed_;
    bool held_ = false;
    bool inside_ = false;
    bool throwNext_ = false;
};

inline velmora::CPtzCapabilities AllAbilities(uint32_t presets = 16) {
    velmora::CPtzCapabilities c;
    c.pan = c.tilt = c.zoom = c.focus = c.iris = c.areaZoom = c.center = c.unzoom = true;
    c.presetCount = presets;
    return c;
}

// A control whose command object is a FakeComm (or none, to make Open fail).
class FakeControl : public velmora::CBasePTZControl {
public:
    FakeControl(velmora::IDriver* driver, int32_t channel, velmora::CPtzCapabilities capabilities)
        : CBasePTZControl(driver, channel), capabilities_(capabilities) {}
    ~FakeControl() override { Close(); }
    velmora::CBasePTZComm* CreateComm() override {
        ++created;
        if (!createComm) return nullptr;
        return new FakeComm(capabilities_, driver_, static_cast<uint16_t>(channel_));
    }
    FakeComm* Fake() { return static_cast<FakeComm*>(Comm()); }

    bool createComm = true;
    int created = 0;

private:
    velmora::CPtzCapabilities capabilities_;
};

}  // namespace ptztest
