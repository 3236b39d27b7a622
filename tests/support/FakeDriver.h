// An IDriver for unit tests: records every message it is given and hands out whatever device
// record, parameters and channel settings the test put in. Safe to call from several threads.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Driver/IDriver.h"

namespace quillon::test {

struct RecordedMessage {
    int level;         // as the caller passed it (not mapped to a host version)
    std::string text;  // formatted
};

class FakeDriver : public velmora::IDriver {
public:
    FakeDriver() = default;

    // IDebugMessage / IDriver.
    void DebugMessage(int level, const char* format, ...) override
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    velmora::DEVICE_INFO GetDeviceInfo() override;
    std::pair<int32_t, int32_t> GetIOCount() override;
    velmora::ipcapture::ISampleAllocator* GetSampleAllocator() override;
    int32_t GetVideoStandard() override;
    int32_t GetStreamType() override;
    int32_t GetChannelCount() override;
    velmora::StreamParameters GetChannelParameters(uint32_t channel) override;
    // Same rules as the driver: empty for an absent key or the text "(none)".
    std::string GetParameter(int32_t key) override;
    // INT_MIN unless the stored text is a plain signed decimal that fits 32 bits.
    int32_t GetParameterInt(int32_t key) override;

    // Test set-up; call before handing the fake to the code under test or from the test thread.
    void SetDeviceInfo(const velmora::DEVICE_INFO& device);
    void SetIOCount(int32_t inputs, int32_t outputs);
    void SetSampleAllocator(velmora::ipcapture::ISampleAllocator* allocator);
    void SetVideoStandard(int32_t standard);
    void SetStreamType(int32_t type);
    void SetChannelCount(int32_t count);
    void SetChannelParameters(uint32_t channel, const velmora::StreamParameters& parameters);
    void SetParameter(int32_t key, const std::string& text);

    // Recorded messages.
    std::vector<RecordedMessage> Messages();
    // Messages whose text contains the fragment.
    size_t Count(const std::string& fragment);
    // Waits until `times` messages containing the fragment have arrived; false on time-out.
    bool WaitFor(const std::string& fragment, uint32_t timeoutMs, size_t times = 1);
    void ClearMessages();

private:
    size_t CountLocked(const std::string& fragment) const;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<RecordedMessage> messages_;
    velmora::DEVICE_INFO device_;
    int32_t inputs_ = 0;
    int32_t outputs_ = 0;
    velmora::ipcapture::ISampleAllocator* allocator_ = nullptr;
    int32_t videoStandard_ = 0;
    int32_t streamType_ = velmora::kStreamMjpeg;
    int32_t channelCount_ = 1;
    std::map<uint32_t, velmora::StreamParameters> channelParameters_;
    std::map<int32_t, std::string> parameters_;
};

}  // namespace quillon::test
