// Shared pieces of the driver tests: a driver whose host version and channel factory the test
// controls, fake channels and their factory, configurations with missing parts, and receivers
// that record or throw.
#pragma once
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Channels/CameraChannel.h"
#include "Driver/IPCaptureDriver.h"
#include "support/Waitable.h"

namespace quillon::test {

// A channel that records what the capture object does with it.
class FakeChannel : public velmora::ICameraChannel {
public:
    struct Behaviour {
        bool startResult = true;
        bool updateResult = true;
        int32_t state = velmora::kConnected;
    };
    FakeChannel(int id, std::shared_ptr<Journal> journal, Behaviour behaviour)
        : id_(id), journal_(std::move(journal)), behaviour_(behaviour) {}
    ~FakeChannel() override { journal_->Add("destroy " + std::to_string(id_)); }

    bool Start(const velmora::StreamParameters& parameters) override {
        journal_->Add("start " + std::to_string(id_));
        started = parameters;
        return behaviour_.startResult;
    }
    void Stop() override { journal_->Add("stop " + std::to_string(id_)); }
    bool Update(const velmora::StreamParameters& parameters) override {
        journal_->Add("update " + std::to_string(id_));
        updated = parameters;
        return behaviour_.updateResult;
    }
    int32_t GetState() override { return behaviour_.state; }
    velmora::StreamParameters GetParameters() override { return started; }

    velmora::StreamParameters started, updated;

private:
    int id_;
    std::shared_ptr<Journal> journal_;
    Behaviour behaviour_;
};

// Channel factory: numbers the channels it creates 1, 2, ... and records each creation.
class FakeCreator : public velmora::ICustomCreator {
public:
    velmora::ICameraChannel* CreateChannel(uint32_t channel, velmora::ipcapture::IVideoSink* sink) override {
        ++created;
        journal->Add("create " + std::to_string(created) + " for slot " + std::to_string(channel));
        lastSink = sink;
        if (returnNull) return nullptr;
        last = new FakeChannel(created, journal, next);
        return last;
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    FakeChannel::Behaviour next;  // behaviour of the next channel created
    bool returnNull = false;
    int created = 0;
    FakeChannel* last = nullptr;  // owned by the capture object
    velmora::ipcapture::IVideoSink* lastSink = nullptr;
};

// The camera driver with test hooks: fake channels on request and direct access to the host
// version that Open reads.
class TestDriver : public velmora::CMobotixIPCaptureDriver {
public:
    velmora::ICameraChannel* CreateChannel(uint32_t channel, velmora::ipcapture::IVideoSink* sink) override {
        if (fakeCreator) return fakeCreator->CreateChannel(channel, sink);
        return CMobotixIPCaptureDriver::CreateChannel(channel, sink);
    }
    void SetHostVersion(uint16_t major, uint16_t minor) {
        hostVersion_[0] = major;
        hostVersion_[1] = minor;
    }
    void SetReceiver(velmora::ipcapture::IDebugInfoReceiver* receiver) { receiver_ = receiver; }

    FakeCreator* fakeCreator = nullptr;
};

// What a receiver saw of one record while PostDebugInfo ran.
struct ReceivedRecord {
    int level;
    bool textWasNull;
    std::string text;
};

class RecordingReceiver : public velmora::ipcapture::IDebugInfoReceiver {
public:
    void PostDebugInfo(CDebugInfoIf* info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const char* text = info->GetText();
        records_.push_back({info->GetLevel(), text == nullptr, text ? text : ""});
    }
    std::vector<ReceivedRecord> Records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<ReceivedRecord> records_;
};

class ThrowingReceiver : public velmora::ipcapture::IDebugInfoReceiver {
public:
    void PostDebugInfo(CDebugInfoIf*) override {
        ++calls;
        throw std::runtime_error("host log full");
    }
    int calls = 0;
};

// Configuration whose getters return what the test says, null included.
class NullableConfig : public velmora::ipcapture::IDriverConfig,
                       public velmora::ipcapture::ICameraInfo,
                       public velmora::ipcapture::IConnectionInfo {
public:
    velmora::ipcapture::ICameraInfo* GetCameraInfo() override { return hasCamera ? this : nullptr; }
    velmora::ipcapture::IConnectionInfo* GetConnectionInfo() override { return hasConnection ? this : nullptr; }
    const char* GetParameter(int32_t index) override {
        return index >= 1 && size_t(index) <= parameters.size() ? parameters[size_t(index) - 1] : nullptr;
    }
    const char* GetModel() override { return model; }
    int32_t GetChannelCount() override { return channels; }
    int32_t GetInputCount() override { return 0; }
    int32_t GetOutputCount() override { return 0; }
    const char* GetAddress() override { return address; }
    uint16_t GetPort() override { return port; }
    int32_t GetStreamType() override { return 1; }
    const char* GetUserName() override { return user; }
    const char* GetPassword() override { return password; }

    bool hasCamera = true, hasConnection = true;
    const char *model = nullptr, *address = nullptr, *user = nullptr, *password = nullptr;
    uint16_t port = 80;
    int32_t channels = 1;
    // Null entries end the list for the driver; entries after one must never be read.
    std::vector<const char*> parameters;
};

}  // namespace quillon::test
