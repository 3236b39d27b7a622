// The checked camera request and its messages.
#include "Web/CameraRequest.h"

namespace velmora::Utils {

namespace {

constexpr int32_t kLevelWrongReply = 1;
constexpr int32_t kLevelNotSent = 4;
constexpr const char* kMessageNotSent = "%s: can not send request \"%s\" to %s";
constexpr const char* kMessageBadStatus = "%s: %s sent does not process request \"%s\", status code = %d";
constexpr const char* kMessageEmptyReply = "%s: incorrect response for request \"%s\" from %s";

}  // namespace

CResultDef SendRequestWrapper(const std::string& path, std::vector<uint8_t>& body, CResultDef& result,
                              Web::CHttpClient& client) {
    result = CResultDef();
    const std::string peer = FormatString("host %s:%u", client.Host().c_str(), static_cast<unsigned>(client.Port()));
    body.clear();
    bool sent = client.SendRequest("GET", path);
    const uint32_t status = sent ? client.GetStatusCode() : 0;
    if (!sent || status == 0) {
        result = CResultDef(kLevelNotSent, CResultDef::kRequestNotSent,
                            FormatString(kMessageNotSent, kSendRequestWrapperName, path.c_str(), peer.c_str()));
    } else if (status / 100 != 2) {
        result = CResultDef(kLevelWrongReply, CResultDef::kRequestRejected,
                            FormatString(kMessageBadStatus, kSendRequestWrapperName, peer.c_str(), path.c_str(),
                                         static_cast<int>(status)));
    }
    if (result.code == CResultDef::kSuccess) {
        if (client.ReadAll(body) == 0) {
            result = CResultDef(kLevelWrongReply, CResultDef::kEmptyReply,
                                FormatString(kMessageEmptyReply, kSendRequestWrapperName, path.c_str(), peer.c_str()));
        }
        body.push_back(0);  // the reply can be used as a zero-terminated text
    }
    return result;
}

CResultDef SendRequestWrapper(const std::string& path, std::vector<uint8_t>& body, Web::CHttpClient& client) {
    CResultDef result;
    return SendRequestWrapper(path, body, result, client);
}

}  // namespace velmora::Utils
