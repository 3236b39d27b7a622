// Web::CHttpClient over the platform HTTP layer: session set-up, one attempt, aborting, and body
// reading and writing on the current request.
#include "Web/HttpClient.h"

#include <algorithm>
#include <limits>

namespace Web {

namespace platform = velmora::platform;

CHttpClient::CHttpClient(const velmora::DEVICE_INFO& device, const std::string& agent)
    : timeout_(static_cast<uint32_t>(device.RequestTimeout)),
      agent_(agent),
      user_(device.UserName),
      password_(device.Password),
      host_(device.Address),
      port_(device.Port) {
    session_ = platform::HttpOpenSession(agent_);
    bool ok = session_ && platform::HttpSetTimeouts(session_, timeout_, timeout_, timeout_) &&
              platform::HttpSetMaxConnectionsPerServer(session_, kMaxConnectionsPerServer) &&
              (!device.AuthMemory || platform::HttpSetAuthMemory(session_, device.AuthMemory));
    if (!ok) CloseHandles();
}

CHttpClient::~CHttpClient() { CloseHandles(); }

void CHttpClient::CloseHandles() {
    {
        velmora::CFastMutexGuard guard(lock_);
        if (request_) platform::HttpCloseHandle(request_);
        request_ = nullptr;
    }
    if (connection_) platform::HttpCloseHandle(connection_);
    connection_ = nullptr;
    if (session_) platform::HttpCloseHandle(session_);
    session_ = nullptr;
}

platform::HttpHandle CHttpClient::CurrentRequest() {
    velmora::CFastMutexGuard guard(lock_);
    return request_;
}

bool CHttpClient::SendRequest(const std::string& verb, const std::string& path) {
    return SendRequestEx(verb, path, {}, {}, 0, kSendRequestOptions);
}

bool CHttpClient::SendRequestEx(const std::string& verb, const std::string& path,
                                const std::vector<std::string>& headers, const std::vector<uint8_t>& body,
                                uint32_t totalLength, uint32_t options) {
    // The layer answers challenges itself (autoAuthenticate_); what reaches here is final.
    return Attempt(verb, path, headers, body, totalLength, options);
}

void CHttpClient::Abort() {
    velmora::CFastMutexGuard guard(lock_);
    aborted_ = true;
    // Closing wakes the calls blocked on these handles; the owner's later calls find them gone.
    if (pending_) platform::HttpCloseHandle(pending_);
    pending_ = nullptr;
    if (request_) platform::HttpCloseHandle(request_);
    request_ = nullptr;
}

bool CHttpClient::Attempt(const std::string& verb, const std::string& path, const std::vector<std::string>& headers,
                          const std::vector<uint8_t>& body, uint32_t totalLength, uint32_t options) {
    statusCode_ = 0;
    contentLength_ = 0;
    if (body.size() > std::numeric_limits<uint32_t>::max()) return false;
    const uint32_t bodySize = static_cast<uint32_t>(body.size());
    bodyOpen_ = totalLength > bodySize;
    bodyRemaining_ = bodyOpen_ ? totalLength - bodySize : 0;
    if (!connection_) {
        if (session_) connection_ = platform::HttpConnect(session_, host_, port_);
        if (!connection_) return FailAttempt();
    }
    if (verb.empty() || path.empty() || aborted_) return FailAttempt();
    platform::HttpHandle request =
        platform::HttpOpenRequest(connection_, verb, path, platform::kHttpFlagBypassProxyCache);
    if (!request) return FailAttempt();
    if (autoAuthenticate_ && !user_.empty() &&
        !platform::HttpSetCredentials(request, authTarget_, authSchemes_, user_, password_)) {
        platform::HttpCloseHandle(request);
        return FailAttempt();
    }
    {
        velmora::CFastMutexGuard guard(lock_);
        if (aborted_) {  // an Abort that came before the request could be seen
            platform::HttpCloseHandle(request);
            return FailAttempt();
        }
        pending_ = request;
    }
    for (const auto& line : headers)
        platform::HttpAddRequestHeaders(request, line, platform::kHttpAddHeaderAddOrReplace);  // outcome ignored

    bool awaited = (options & kRequestSendOnly) == 0 && !bodyOpen_;
    bool ok = platform::HttpSendRequest(request, body.empty() ? nullptr : body.data(), bodySize,
                                        std::max(bodySize, totalLength));
    if (ok && awaited) ok = platform::HttpReceiveResponse(request);
    velmora::CFastMutexGuard guard(lock_);
    // Aborted meanwhile: Abort closed the request already.
    if (pending_ != request) return FailAttempt();
    pending_ = nullptr;
    if (!ok) {
        platform::HttpCloseHandle(request);
        return FailAttempt();
    }
    if (request_) platform::HttpCloseHandle(request_);
    request_ = request;
    if (awaited) {
        uint32_t value = 0;
        if (platform::HttpQueryStatusCode(request_, &value)) statusCode_ = value;
        value = 0;
        if (platform::HttpQueryContentLength(request_, &value)) contentLength_ = value;
    }
    return true;
}

bool CHttpClient::FailAttempt() {
    // Nothing was sent on a new request, so no body can be open.
    bodyOpen_ = false;
    bodyRemaining_ = 0;
    return false;
}

uint32_t CHttpClient::GetStatusCode() { return statusCode_; }

uint32_t CHttpClient::GetContentLength() { return contentLength_; }

bool CHttpClient::IsBodyOpen() { return bodyOpen_; }

bool CHttpClient::WriteData(const std::vector<uint8_t>& data) {
    if (data.empty()) return false;
    platform::HttpHandle request = CurrentRequest();
    if (request && bodyOpen_ && data.size() <= bodyRemaining_) {
        uint32_t size = static_cast<uint32_t>(data.size());
        uint32_t written = 0;
        if (platform::HttpWriteData(request, data.data(), size, &written) && written == size) {
            bodyRemaining_ -= size;
            bodyOpen_ = bodyRemaining_ > 0;
            return true;
        }
    }
    bodyOpen_ = false;
    bodyRemaining_ = 0;
    return false;
}

uint32_t CHttpClient::QueryAvailable() {
    platform::HttpHandle request = CurrentRequest();
    uint32_t available = 0;
    if (!request || !platform::HttpQueryDataAvailable(request, &available)) return 0;
    return available;
}

uint32_t CHttpClient::ReadSome(uint8_t* buffer, uint32_t size) {
    platform::HttpHandle request = CurrentRequest();
    uint32_t read = 0;
    if (!request || !platform::HttpReadData(request, buffer, size, &read)) return 0;
    return read;
}

uint32_t CHttpClient::ReadAll(std::vector<uint8_t>& buffer) {
    buffer.clear();
    uint32_t total = 0;
    uint32_t available = QueryAvailable();
    // An abort ends the loop between reads too, where the platform does not wake a blocked read.
    while (available > 0 && total < kReadAllMaxBytes && !aborted_) {
        uint32_t chunk = std::min(available, kReadAllChunkBytes);
        buffer.resize(static_cast<size_t>(total) + chunk);
        uint32_t read = ReadSome(buffer.data() + total, chunk);
        total += read;
        // Available bytes that cannot be read mean the request has failed; do not spin on it.
        if (read == 0) break;
        available = QueryAvailable();
    }
    buffer.resize(total);
    return total;
}

}  // namespace Web
