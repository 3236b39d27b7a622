// One HTTP request of the Windows HTTP layer on synchronous WinHTTP: its header lines, the
// declared body and later writes, the response head (checked as strictly as the POSIX layer
// checks it), authentication through the shared memory, and the body reads.
//
// Calls are made by one thread at a time; Close may come from any thread. WinHTTP cannot wake a
// synchronous call from outside, so Close only marks the request: a call in progress ends with
// its own time-out and the WinHTTP handle is closed when the last call has left it (closing it
// under a running call could hand its value to a new handle before that call used it).
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpAuthMemory.h"
#include "platform/HttpHandleTable.h"
#include "platform/win32/HttpError.h"
#include "platform/win32/HttpSession.h"

namespace velmora::platform::http {

// Longest response head accepted (status line, fields and blank line), as on POSIX.
constexpr size_t kMaxResponseHeadBytes = 64 * 1024;

struct ResponseField {
    std::string name;
    std::string value;
};

class Request final : public RequestBase {
public:
    Request(std::shared_ptr<Session> session, HINTERNET connection, std::string host, uint16_t port, std::string verb,
            std::string path, uint32_t flags);
    ~Request() override;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool IsOpen() const { return handle_ != nullptr; }
    bool SetCredentials(uint32_t target, uint32_t schemes, const std::string& user,
                        const std::string& password) override;
    bool AddHeaders(const std::string& lines, uint32_t modifiers) override;
    bool Send(const void* body, uint32_t bodySize, uint32_t totalLength) override;
    bool Write(const void* data, uint32_t size, uint32_t* written) override;
    bool ReceiveResponse() override;
    bool StatusCode(uint32_t* code) override;
    bool ContentLength(uint32_t* length) override;
    bool Header(const std::string& name, std::string* value) override;
    bool AuthSchemes(uint32_t* supported, uint32_t* first, uint32_t* target) override;
    bool DataAvailable(uint32_t* available) override;
    bool Read(void* buffer, uint32_t size, uint32_t* read) override;
    // Any thread: later calls fail at once; one in progress ends with its own time-out.
    void Close() override;

private:
    enum class State { Created, SendingBody, Sent, ReadingBody, Finished, Failed };
    enum class Framing { None, Length, Chunked, UntilClose };

    // Enter gives the WinHTTP handle for one call (null once closed); Leave ends the call.
    HINTERNET Enter();
    void Leave();
    // Runs one WinHTTP call on the handle; a failure records what it means in failure_.
    bool Call(const std::function<BOOL(HINTERNET)>& call);
    bool AddHeaderLine(std::string_view name, std::string_view value, uint32_t modifiers);
    bool AddOwnHeader(const std::string& line);
    bool Transmit();
    bool ReadHead();
    bool AnswerChallenge();
    const std::string* Field(std::string_view name) const;
    std::vector<std::string_view> Fields(std::string_view name) const;
    HttpAuthRequest AuthTarget() const;
    bool Fail(Failure failure);
    bool FailLast();
    void Finish(bool tellWinHttp);
    void ReleaseSlot();

    const std::shared_ptr<Session> session_;
    const std::string host_;
    const uint16_t port_;
    const std::string server_;  // key of the connection slots
    const std::string verb_;
    const std::string path_;

    HttpCredentials credentials_;
    uint32_t authTarget_ = kHttpAuthTargetServer;
    HttpAuthSent authSent_;
    bool callerAuthorization_[2] = {false, false};  // by target: the caller set the header itself

    std::vector<uint8_t> body_;  // the body given to Send, kept for an authentication resend
    uint64_t total_ = 0;
    uint64_t sent_ = 0;
    State state_ = State::Created;
    Failure failure_ = Failure::None;  // what the last failure met (HttpError.h), for diagnostics
    bool holdsSlot_ = false;

    std::mutex opMutex_;      // one call at a time
    std::mutex handleMutex_;  // guards handle_, closed_ and calls_ against Close
    HINTERNET handle_ = nullptr;
    std::atomic<bool> closed_{false};  // written under handleMutex_, read anywhere
    int calls_ = 0;

    uint32_t status_ = 0;
    std::vector<ResponseField> fields_;
    Framing framing_ = Framing::None;
    uint64_t length_ = 0;    // Framing::Length: the declared body length
    uint64_t received_ = 0;  // body bytes read so far
};

}  // namespace velmora::platform::http
