// The driver's inner interface handed to every sub-object, and the records they share.
// Sub-objects call it from capture, output and PTZ threads while the driver is open; it only
// reads state that Open wrote, and hands out copies.
#pragma once
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "quillon/Debug.h"
#include "quillon/Media.h"
#include "platform/HttpAuthMemory.h"

namespace velmora {

// Device record every HTTP user copies.
class DEVICE_INFO {
public:
    virtual ~DEVICE_INFO() = default;
    int32_t RequestTimeout = 5000;  // ms: every HTTP connect, send and receive
    int32_t StreamTimeout = 5000;   // ms: half of it without a picture reports the camera offline
    std::string Address;
    uint16_t Port = 80;
    std::string UserName;
    std::string Password;
    std::string Model;
    // What the camera asked for when it challenged (scheme, Digest nonce and count). Copies of one
    // record share it, so every client of one driver, and every reconnect, authenticates at its
    // first try; a record made afresh (another driver, a capability query) starts with none.
    std::shared_ptr<platform::HttpAuthMemory> AuthMemory = std::make_shared<platform::HttpAuthMemory>();
};

struct StreamParameters {
    uint32_t FrameInterval = 0;  // ms
    uint32_t Quality = 0;        // percent
    uint32_t Width = 0;
    uint32_t Height = 0;
};

enum StreamType : int32_t { kStreamMjpeg = 1, kStreamMxpeg = 2 };

// Message levels as callers pass them; mapped to the host's version before posting.
enum MessageLevel : int { kLevelError = 1, kLevelWarning = 2, kLevelInfo = 3, kLevelSilent = 4, kLevelNotice = 100 };

// The driver name: source name of every sample and name in the "DRIVER IS OPENED" line.
inline constexpr const char* kDriverName = "Quillon";
inline constexpr const char* kHttpAgent = "Velmora::HttpClient";

class IDriver : public IDebugMessage {
public:
    virtual DEVICE_INFO GetDeviceInfo() = 0;
    // (inputs, outputs)
    virtual std::pair<int32_t, int32_t> GetIOCount() = 0;
    virtual ipcapture::ISampleAllocator* GetSampleAllocator() = 0;
    virtual int32_t GetVideoStandard() = 0;
    virtual int32_t GetStreamType() = 0;
    virtual int32_t GetChannelCount() = 0;
    // All four values 0 when there is no such channel.
    virtual StreamParameters GetChannelParameters(uint32_t channel) = 0;
    // Empty when absent or stored as "(none)".
    virtual std::string GetParameter(int32_t key) = 0;
    // INT_MIN when absent or not a plain signed decimal.
    virtual int32_t GetParameterInt(int32_t key) = 0;
};

}  // namespace velmora
