// One HTTP request of the POSIX HTTP layer: builds and sends the head and body, receives the
// response head, decodes the body (length, chunked, until close) and answers the challenges that
// the session's authentication memory answers.
//
// A request is sent once. Its operations are made by one thread at a time (the handle layer
// serialises them); Close may come from any thread and wakes a blocked operation. The socket
// goes back to the session's pool as soon as the body has been read to its end on a persistent
// connection; otherwise it is closed.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/HttpHandleTable.h"
#include "platform/Socket.h"
#include "platform/posix/HttpParser.h"
#include "platform/posix/HttpSession.h"

namespace velmora::platform::http {

// Bytes received per read into the request's buffer, and the buffer (a head plus one read).
constexpr size_t kReceiveChunkBytes = 64 * 1024;
constexpr size_t kReceiveBufferBytes = kMaxHeaderBlockBytes + kReceiveChunkBytes;
// Reads at least this large bypass the request's buffer when it is empty.
constexpr size_t kDirectReadBytes = 16 * 1024;
// Interim (1xx) responses skipped before the final one.
constexpr int kMaxInterimResponses = 8;
// A request body up to this size goes out in the same send as the head.
constexpr size_t kCoalescedBodyBytes = 16 * 1024;

class Request final : public RequestBase {
public:
    Request(std::shared_ptr<Session> session, ServerAddress server, std::string verb, std::string path,
            uint32_t flags);
    ~Request() override;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool SetCredentials(uint32_t target, uint32_t scheme, const std::string& user,
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
    // Any thread: later operations fail, and one in progress is woken by shutting the socket.
    void Close() override;

private:
    enum class State { Created, SendingBody, Sent, ReadingBody, Finished, Failed };

    bool AddHeaderLine(std::string_view name, std::string_view value, uint32_t modifiers);
    std::string BuildHead();
    bool Transmit();
    bool ReadHead();
    bool AnswerChallenge();
    HttpAuthRequest AuthRequest() const;
    uint64_t UsableBytes();
    bool BodyComplete() const;
    void FinishBody();
    void TryFinishFromBuffer();
    long ReceiveMore();
    // Read past the buffer; *handled false when the buffered path must serve the call.
    bool ReadDirect(void* buffer, uint32_t size, uint32_t* read, bool* handled);
    bool Fail();
    bool AttachSocket(TcpSocket socket, bool reused);
    void DropSocket(bool reusable);
    bool IdempotentVerb() const;

    const std::shared_ptr<Session> session_;
    const ServerAddress server_;
    const std::string verb_;
    const std::string path_;
    std::vector<HeaderField> headers_;

    bool hasCredentials_ = false;
    uint32_t authTarget_ = kHttpAuthTargetServer;
    HttpCredentials credentials_;
    bool callerAuthorization_ = false;  // the caller set the header itself: never answered
    HttpAuthSent authSent_;             // what the last send carried
    bool answering_ = false;            // the next send answers a challenge with answer_
    std::string answer_;
    HttpAuthSent answerSent_;

    std::vector<uint8_t> body_;  // the body given to Send, kept for a resend
    uint64_t total_ = 0;
    uint64_t sent_ = 0;
    State state_ = State::Created;

    std::mutex opMutex_;  // one operation at a time
    std::mutex socketMutex_;  // guards replacing socket_ against Close
    std::atomic<bool> closed_{false};
    bool aborted_ = false;  // under socketMutex_
    TcpSocket socket_;
    bool reused_ = false;
    uint64_t responseBytes_ = 0;  // received on this connection for this request

    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    ResponseHead head_;
    bool haveHead_ = false;
    BodyFraming framing_;
    uint64_t remaining_ = 0;  // BodyKind::Length
    ChunkedDecoder chunked_;
};

}  // namespace velmora::platform::http
