// The host's side of a capability query: a result object that keeps what the module writes and
// a callback that lets the caller wait for the outcome. Written from the module's query thread.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quillon/CapabilityQuery.h"

namespace quillon::host {

using namespace velmora::ipcapture;

struct ProbedParameter {
    std::string name, value;
    int32_t kind = -1, option = -1;
};

struct ProbedResolution {
    std::string name;
    uint32_t width = 0, height = 0, interval = 0;
};

class CapabilityResult : public ICapabilityQueryResult {
public:
    CapabilityResult();
    ~CapabilityResult() override;
    void SetCapability(int32_t id, int32_t value) override;
    void SetModelName(const char* model) override;
    ICapabilityTextSink* GetConnectionField(int32_t index) override;
    ICapabilityParameterEntry* GetParameterEntry(int32_t index) override;
    ICapabilityResolutionList* GetResolutionList() override;
    ICapabilityIntervalList* GetFrameIntervalList(int32_t formatCode) override;

    std::string model;
    std::map<int32_t, int32_t> capabilities;
    std::map<int32_t, std::string> connection;
    std::map<int32_t, ProbedParameter> parameters;  // 1..4
    std::vector<ProbedResolution> resolutions;
    std::map<int32_t, std::vector<uint32_t>> intervals;  // per stream format code

    // Parameters 1..4 as the host hands them to later Open calls.
    std::vector<std::string> ParameterValues() const;

private:
    struct TextSink;
    struct Entry;
    struct Resolutions;
    struct Intervals;
    std::map<int32_t, TextSink*> sinks_;
    std::vector<std::unique_ptr<TextSink>> ownedSinks_;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::unique_ptr<Resolutions> resolutionList_;
    std::map<int32_t, std::unique_ptr<Intervals>> intervalLists_;
};

class CapabilityCallback : public ICapabilityQueryCallback {
public:
    void OnQuerySucceeded() override;
    void OnQueryFailed(int32_t code, const char* message) override;
    // False when no notification came within the time.
    bool Wait(uint32_t timeoutMs);
    bool succeeded = false;
    int32_t code = 0;
    std::string message;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

}  // namespace quillon::host
