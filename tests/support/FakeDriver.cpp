// Recording IDriver for unit tests.
#include "FakeDriver.h"

#include <chrono>
#include <climits>
#include <cstdarg>

#include "Driver/DebugInfo.h"

namespace quillon::test {

void FakeDriver::DebugMessage(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = velmora::FormatV(format, args);
    va_end(args);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({level, std::move(text)});
    }
    cv_.notify_all();
}

velmora::DEVICE_INFO FakeDriver::GetDeviceInfo() {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_;
}

std::pair<int32_t, int32_t> FakeDriver::GetIOCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {inputs_, outputs_};
}

velmora::ipcapture::ISampleAllocator* FakeDriver::GetSampleAllocator() {
    std::lock_guard<std::mutex> lock(mutex_);
    return allocator_;
}

int32_t FakeDriver::GetVideoStandard() {
    std::lock_guard<std::mutex> lock(mutex_);
    return videoStandard_;
}

int32_t FakeDriver::GetStreamType() {
    std::lock_guard<std::mutex> lock(mutex_);
    return streamType_;
}

int32_t FakeDriver::GetChannelCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return channelCount_;
}

velmora::StreamParameters FakeDriver::GetChannelParameters(uint32_t channel) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = channelParameters_.find(channel);
    return it == channelParameters_.end() ? velmora::StreamParameters{} : it->second;
}

std::string FakeDriver::GetParameter(int32_t key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = parameters_.find(key);
    if (it == parameters_.end() || it->second == "(none)") return {};
    return it->second;
}

int32_t FakeDriver::GetParameterInt(int32_t key) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = parameters_.find(key);
        if (it == parameters_.end()) return INT_MIN;
        text = it->second;
    }
    size_t first = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (first == text.size()) return INT_MIN;
    long long value = 0;
    for (size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return INT_MIN;
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) return INT_MIN;
    }
    if (text[0] == '-') value = -value;
    if (value < INT_MIN || value > INT_MAX) return INT_MIN;
    return static_cast<int32_t>(value);
}

void FakeDriver::SetDeviceInfo(const velmora::DEVICE_INFO& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    device_ = device;
}

void FakeDriver::SetIOCount(int32_t inputs, int32_t outputs) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputs_ = inputs;
    outputs_ = outputs;
}

void FakeDriver::SetSampleAllocator(velmora::ipcapture::ISampleAllocator* allocator) {
    std::lock_guard<std::mutex> lock(mutex_);
    allocator_ = allocator;
}

void FakeDriver::SetVideoStandard(int32_t standard) {
    std::lock_guard<std::mutex> lock(mutex_);
    videoStandard_ = standard;
}

void FakeDriver::SetStreamType(int32_t type) {
    std::lock_guard<std::mutex> lock(mutex_);
    streamType_ = type;
}

void FakeDriver::SetChannelCount(int32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    channelCount_ = count;
}

void FakeDriver::SetChannelParameters(uint32_t channel, const velmora::StreamParameters& parameters) {
    std::lock_guard<std::mutex> lock(mutex_);
    channelParameters_[channel] = parameters;
}

void FakeDriver::SetParameter(int32_t key, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    parameters_[key] = text;
}

std::vector<RecordedMessage> FakeDriver::Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

size_t FakeDriver::CountLocked(const std::string& fragment) const {
    size_t n = 0;
    for (const RecordedMessage& message : messages_)
        if (message.text.find(fragment) != std::string::npos) ++n;
    return n;
}

size_t FakeDriver::Count(const std::string& fragment) {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLocked(fragment);
}

bool FakeDriver::WaitFor(const std::string& fragment, uint32_t timeoutMs, size_t times) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return CountLocked(fragment) >= times; });
}

void FakeDriver::ClearMessages() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

}  // namespace quillon::test
