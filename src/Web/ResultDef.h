// Result record in which workers hand a prepared log message to their caller, and the one list
// of the driver's result codes.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

namespace velmora {

class CResultDef {
public:
    // Result codes of the whole driver, with the level that goes with each.
    static constexpr int32_t kSuccess = 0;                    // level 3
    static constexpr int32_t kInputUnavailable = 1;           // level 1: picture settings, preset file, auth refusal in the probe
    static constexpr int32_t kInvalidCommand = 3;             // level 1: unexpected command, no preset file name, failed probe query
    static constexpr int32_t kOutOfMemory = 6;                // level 1: preset file object
    static constexpr int32_t kRequestRejected = 8;            // level 1: status outside 2xx, PTZ request not sent, camera offline
    static constexpr int32_t kRequestNotSent = 11;            // level 4: not sent, or no status code received
    static constexpr int32_t kEmptyReply = 13;                // level 1: 2xx with empty body, click-to-zoom reply without "OK"
    static constexpr int32_t kCameraRejectedParameters = 14;  // level 1: "ERR:" reply to new stream parameters

    static constexpr int32_t kDefaultLevel = 3;

    CResultDef() = default;
    CResultDef(int32_t levelValue, int32_t codeValue, std::string messageText)
        : level(levelValue), code(codeValue), message(std::move(messageText)) {}
    virtual ~CResultDef() = default;
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    CResultDef(CResultDef&&) = default;
    CResultDef& operator=(CResultDef&&) = default;

    bool Succeeded() const { return code == kSuccess; }

    int32_t level = kDefaultLevel;  // message level for the log
    int32_t code = kSuccess;
    std::string message;            // ready to log; empty on success
};

}  // namespace velmora
