// Sending a request and reading its response over a pooled connection.
#include "platform/posix/HttpRequest.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/HttpHeaderLines.h"

namespace velmora::platform::http {


Request::Request(std::shared_ptr<Session> session, ServerAddress server, std::string verb, std::string path,
                 uint32_t flags)
    : session_(std::move(session)), server_(std::move(server)), verb_(std::move(verb)), path_(std::move(path)) {
    std::string host = server_.host;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";  // IPv6 literal
    if (server_.port != 80) host += ":" + std::to_string(server_.port);
    headers_.push_back({"Host", host});
    if (!session_->Agent().empty()) headers_.push_back({"User-Agent", session_->Agent()});
    if (flags & kHttpFlagBypassProxyCache) {
        headers_.push_back({"Pragma", "no-cache"});
        headers_.push_back({"Cache-Control", "no-cache"});
    }
}

Request::~Request() {
    if (socket_.IsOpen() && state_ == State::ReadingBody) TryFinishFromBuffer();
    if (socket_.IsOpen()) DropSocket(false);
}

void Request::Close() {
    closed_ = true;
    if (opMutex_.try_lock()) {
        opMutex_.unlock();
        return;  // nothing in progress: the destructor settles the socket
    }
    std::lock_guard<std::mutex> lock(socketMutex_);
    aborted_ = true;
    socket_.ShutdownBoth();
}

bool Request::SetCredentials(uint32_t target, uint32_t schemes, const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Created) return false;
    if (schemes == 0 || (schemes & ~(kHttpAuthBasic | kHttpAuthDigest)) != 0) return false;
    if (target != kHttpAuthTargetServer && target != kHttpAuthTargetProxy) return false;
    hasCredentials_ = true;
    authTarget_ = target;
    credentials_ = HttpCredentials{schemes, user, password};
    return true;
}

HttpAuthRequest Request::AuthRequest() const {
    return HttpAuthRequest{server_.host, server_.port, authTarget_, verb_, path_};
}

bool Request::AddHeaders(const std::string& lines, uint32_t modifiers) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Created) return false;
    std::vector<HeaderLine> fields;
    if (!SplitRequestHeaderLines(lines, &fields)) return false;
    for (const HeaderLine& field : fields)
        if (!AddHeaderLine(field.name, field.value, modifiers)) return false;
    return true;
}

bool Request::AddHeaderLine(std::string_view name, std::string_view value, uint32_t modifiers) {
    auto it = std::find_if(headers_.begin(), headers_.end(),
                           [&](const HeaderField& f) { return EqualsIgnoreCase(f.name, name); });
    bool replace = (modifiers & kHttpAddHeaderReplace) != 0;
    bool add = (modifiers & kHttpAddHeaderAdd) != 0;
    if (it != headers_.end() && replace) {
        if (value.empty()) {
            headers_.erase(it);  // replacing with nothing removes the header
        } else {
            it->value.assign(value);
        }
        return true;
    }
    if (it == headers_.end() && replace && !add) return false;
    if (value.empty()) return false;
    headers_.push_back({std::string(name), std::string(value)});
    return true;
}

std::string Request::BuildHead() {
    std::string head = verb_ + " " + path_ + " HTTP/1.1\r\n";
    const char* authName = authTarget_ == kHttpAuthTargetProxy ? "Proxy-Authorization" : "Authorization";
    callerAuthorization_ = false;
    for (const auto& f : headers_) {
        head += f.name + ": " + f.value + "\r\n";
        callerAuthorization_ |= EqualsIgnoreCase(f.name, authName);
    }
    authSent_ = HttpAuthSent();
    if (hasCredentials_ && !callerAuthorization_) {
        std::string value;
        if (answering_) {
            value = answer_;
            authSent_ = answerSent_;
        } else {
            value = session_->AuthMemory()->Prepare(AuthRequest(), credentials_, session_->ClientNonceSource(),
                                                    &authSent_);
        }
        if (!value.empty()) head += std::string(authName) + ": " + value + "\r\n";
    }
    bool bodyVerb = verb_ == "POST" || verb_ == "PUT" || verb_ == "PATCH";
    if (total_ > 0 || bodyVerb) head += "Content-Length: " + std::to_string(total_) + "\r\n";
    head += "\r\n";
    return head;
}

bool Request::AttachSocket(TcpSocket socket, bool reused) {
    std::lock_guard<std::mutex> lock(socketMutex_);
    if (aborted_ || closed_) {
        session_->Release(server_, std::move(socket), false);
        return false;
    }
    socket_ = std::move(socket);
    reused_ = reused;
    responseBytes_ = 0;
    begin_ = end_ = 0;
    return true;
}

void Request::DropSocket(bool reusable) {
    TcpSocket socket;
    {
        std::lock_guard<std::mutex> lock(socketMutex_);
        socket = std::move(socket_);
        reusable = reusable && !aborted_;
    }
    if (socket.IsOpen()) session_->Release(server_, std::move(socket), reusable);
}

bool Request::IdempotentVerb() const {
    return verb_ == "GET" || verb_ == "HEAD" || verb_ == "PUT" || verb_ == "DELETE" || verb_ == "OPTIONS" ||
           verb_ == "TRACE";
}

bool Request::Transmit() {
    // A pooled connection may have been closed by the server just now: one more try on a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        TcpSocket socket;
        bool reused = false;
        if (!session_->Acquire(server_, &socket, &reused)) return false;
        if (!AttachSocket(std::move(socket), reused)) return false;
        uint32_t sendMs = session_->GetTimeouts().sendMs;
        std::string head = BuildHead();
        bool ok;
        if (body_.size() <= kCoalescedBodyBytes) {
            head.append(body_.begin(), body_.end());
            ok = socket_.SendAll(head.data(), head.size(), sendMs);
        } else {
            ok = socket_.SendAll(head.data(), head.size(), sendMs) &&
                 socket_.SendAll(body_.data(), body_.size(), sendMs);
        }
        if (ok) return true;
        bool retry = reused_;
        DropSocket(false);
        if (!retry || closed_) return false;
    }
    return false;
}

bool Request::Send(const void* body, uint32_t bodySize, uint32_t totalLength) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Created) return false;
    if (bodySize > 0 && !body) return false;
    if (bodySize > 0) body_.assign(static_cast<const uint8_t*>(body), static_cast<const uint8_t*>(body) + bodySize);
    total_ = std::max(bodySize, totalLength);
    sent_ = bodySize;
    if (!Transmit()) return Fail();
    state_ = sent_ < total_ ? State::SendingBody : State::Sent;
    return true;
}

bool Request::Write(const void* data, uint32_t size, uint32_t* written) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (written) *written = 0;
    if (closed_ || state_ != State::SendingBody || !data) return false;
    if (size > total_ - sent_) return false;  // past the declared length: nothing is written
    if (!socket_.SendAll(data, size, session_->GetTimeouts().sendMs)) return Fail();
    sent_ += size;
    if (written) *written = size;
    if (sent_ == total_) state_ = State::Sent;
    return true;
}

long Request::ReceiveMore() {
    if (buffer_.size() < kReceiveBufferBytes) buffer_.resize(kReceiveBufferBytes);
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (begin_ > 0 && end_ + kReceiveChunkBytes > buffer_.size()) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    size_t room = std::min(buffer_.size() - end_, kReceiveChunkBytes);
    if (room == 0) return -1;
    long n = socket_.Receive(buffer_.data() + end_, room, session_->GetTimeouts().receiveMs);
    if (n > 0) {
        end_ += static_cast<size_t>(n);
        responseBytes_ += static_cast<uint64_t>(n);
    }
    return n;
}

bool Request::ReadHead() {
    int interim = 0;
    size_t searched = 0;
    bool retried = false;
    for (;;) {
        size_t consumed = 0;
        ParseStatus status = ParseResponseHead(buffer_.data() + begin_, end_ - begin_, &head_, &consumed, &searched);
        if (status == ParseStatus::Error) return false;
        if (status == ParseStatus::Done) {
            begin_ += consumed;
            searched = 0;
            if (head_.status >= 200) return true;
            if (++interim > kMaxInterimResponses) return false;
            continue;
        }
        long n = ReceiveMore();
        if (n > 0) continue;
        // A reused connection that the server closed before answering: send once more on a new one.
        bool staleConnection = (n == 0 || n == -1) && reused_ && responseBytes_ == 0 && !retried && IdempotentVerb();
        if (!staleConnection || closed_) return false;
        retried = true;
        DropSocket(false);
        if (!Transmit()) return false;
    }
}

bool Request::AnswerChallenge() {
    if (!hasCredentials_ || callerAuthorization_) return false;
    const bool proxy = authTarget_ == kHttpAuthTargetProxy;
    if (head_.status != (proxy ? 407u : 401u)) return false;
    if (sent_ != total_ || total_ != body_.size()) return false;  // the body cannot be sent again
    std::vector<std::string_view> challenges = head_.FindAll(proxy ? "Proxy-Authenticate" : "WWW-Authenticate");
    if (!session_->AuthMemory()->Answer(AuthRequest(), challenges, credentials_, session_->ClientNonceSource(),
                                        authSent_, &answer_, &answerSent_))
        return false;
    answering_ = true;
    return true;
}

bool Request::ReceiveResponse() {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || state_ != State::Sent) return false;
    for (int resend = 0;; ++resend) {
        haveHead_ = false;
        if (!ReadHead()) return Fail();
        if (!DetermineFraming(head_, verb_ == "HEAD", &framing_)) return Fail();
        haveHead_ = true;
        remaining_ = framing_.kind == BodyKind::Length ? framing_.length : 0;
        chunked_ = ChunkedDecoder();
        state_ = State::ReadingBody;
        if (resend < kHttpMaxAuthResends && AnswerChallenge()) {
            TryFinishFromBuffer();
            if (socket_.IsOpen()) DropSocket(false);
            state_ = State::Sent;
            if (!Transmit()) return Fail();
            continue;
        }
        if (BodyComplete()) FinishBody();
        return true;
    }
}

bool Request::StatusCode(uint32_t* code) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || !haveHead_) return false;
    *code = head_.status;
    return true;
}

bool Request::ContentLength(uint32_t* length) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || !haveHead_) return false;
    const std::string* value = head_.Find("Content-Length");
    if (!value || value->empty() || value->size() > 10) return false;
    uint64_t n = 0;
    for (char c : *value) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > std::numeric_limits<uint32_t>::max()) return false;
    *length = static_cast<uint32_t>(n);
    return true;
}

bool Request::Header(const std::string& name, std::string* value) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || !haveHead_) return false;
    const std::string* found = head_.Find(name);
    if (!found) return false;
    *value = *found;
    return true;
}

bool Request::AuthSchemes(uint32_t* supported, uint32_t* first, uint32_t* target) {
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_ || !haveHead_ || (head_.status != 401 && head_.status != 407)) return false;
    bool proxy = head_.status == 407;
    if (!OfferedHttpAuthSchemes(head_.FindAll(proxy ? "Proxy-Authenticate" : "WWW-Authenticate"), supported, first))
        return false;
    *target = proxy ? kHttpAuthTargetProxy : kHttpAuthTargetServer;
    return true;
}

uint64_t Request::UsableBytes() {
    uint64_t buffered = end_ - begin_;
    switch (framing_.kind) {
        case BodyKind::None:
            return 0;
        case BodyKind::Length:
            return std::min(buffered, remaining_);
        case BodyKind::UntilClose:
            return buffered;
        case BodyKind::Chunked:
            if (chunked_.DataRemaining() == 0 && buffered > 0) {
                begin_ += chunked_.Parse(buffer_.data() + begin_, buffered);
                buffered = end_ - begin_;
            }
            return std::min(buffered, chunked_.DataRemaining());
    }
    return 0;
}

bool Request::BodyComplete() const {
    switch (framing_.kind) {
        case BodyKind::None:
            return true;
        case BodyKind::Length:
            return remaining_ == 0;
        case BodyKind::Chunked:
            return chunked_.Done();
        case BodyKind::UntilClose:
            return false;
    }
    return false;
}

void Request::FinishBody() {
    state_ = State::Finished;
    // Bytes beyond the body mean the peer is out of step: that connection is not reused.
    bool reusable = framing_.keepAlive && begin_ == end_ && sent_ == total_;
    DropSocket(reusable);
}

void Request::TryFinishFromBuffer() {
    // Discards what is already buffered, without waiting, to keep the connection if the body ends.
    for (;;) {
        uint64_t usable = UsableBytes();
        if (usable == 0) break;
        begin_ += usable;
        if (framing_.kind == BodyKind::Length) remaining_ -= usable;
        if (framing_.kind == BodyKind::Chunked) chunked_.ConsumeData(usable);
    }
    if (BodyComplete() && !chunked_.Failed()) FinishBody();
}

bool Request::Fail() {
    state_ = State::Failed;
    DropSocket(false);
    return false;
}

bool Request::DataAvailable(uint32_t* available) {
    std::lock_guard<std::mutex> op(opMutex_);
    *available = 0;
    if (closed_) return false;
    if (state_ == State::Finished) return true;
    if (state_ != State::ReadingBody) return false;
    // Each pass either finds body bytes, ends, or receives (bounded by the receive time-out);
    // framing between chunks is bounded by the chunk line and trailer limits.
    for (;;) {
        uint64_t usable = UsableBytes();
        if (usable > 0) {
            *available = static_cast<uint32_t>(std::min<uint64_t>(usable, std::numeric_limits<uint32_t>::max()));
            return true;
        }
        if (chunked_.Failed()) return Fail();
        if (BodyComplete()) {
            FinishBody();
            return true;
        }
        long n = ReceiveMore();
        if (closed_) return Fail();  // woken by an abort: not an end of body
        if (n > 0) continue;
        if (n == 0 && framing_.kind == BodyKind::UntilClose) {
            FinishBody();
            return true;
        }
        return Fail();  // time-out, error, or close before the declared end
    }
}

bool Request::Read(void* buffer, uint32_t size, uint32_t* read) {
    *read = 0;
    if (size == 0) return true;
    if (!buffer) return false;
    bool handled = false;
    const bool ok = ReadDirect(buffer, size, read, &handled);
    if (handled) return ok;
    uint32_t available = 0;
    if (!DataAvailable(&available)) return false;
    std::lock_guard<std::mutex> op(opMutex_);
    if (closed_) return false;
    if (available == 0 || state_ != State::ReadingBody) return true;
    uint32_t n = std::min(available, size);
    std::memcpy(buffer, buffer_.data() + begin_, n);
    begin_ += n;
    if (framing_.kind == BodyKind::Length) remaining_ -= n;
    if (framing_.kind == BodyKind::Chunked) chunked_.ConsumeData(n);
    *read = n;
    // Hand the connection back as soon as the body has ended, without waiting for more calls.
    if (framing_.kind == BodyKind::Chunked && chunked_.DataRemaining() == 0 && begin_ < end_)
        begin_ += chunked_.Parse(buffer_.data() + begin_, end_ - begin_);
    if (BodyComplete()) FinishBody();
    return true;
}

// A large read of a plain body with nothing buffered goes from the socket straight into the caller's
// buffer, so the bytes of a long body (a live stream) are copied once, by the kernel. Same outcomes as
// the buffered path: what has arrived (waiting up to the receive time-out), the end of an until-close
// body, a failure for a time-out, an abort or a close before the declared length.
bool Request::ReadDirect(void* buffer, uint32_t size, uint32_t* read, bool* handled) {
    std::lock_guard<std::mutex> op(opMutex_);
    const bool plain = framing_.kind == BodyKind::UntilClose || (framing_.kind == BodyKind::Length && remaining_ > 0);
    if (closed_ || state_ != State::ReadingBody || !plain || begin_ != end_ || size < kDirectReadBytes) return false;
    *handled = true;
    size_t want = size;
    if (framing_.kind == BodyKind::Length) want = static_cast<size_t>(std::min<uint64_t>(want, remaining_));
    const long n = socket_.Receive(buffer, want, session_->GetTimeouts().receiveMs);
    if (closed_) return Fail();  // woken by an abort: not an end of body
    if (n > 0) {
        responseBytes_ += static_cast<uint64_t>(n);
        if (framing_.kind == BodyKind::Length) remaining_ -= static_cast<uint64_t>(n);
        *read = static_cast<uint32_t>(n);
        if (BodyComplete()) FinishBody();
        return true;
    }
    if (n == 0 && framing_.kind == BodyKind::UntilClose) {
        FinishBody();
        return true;
    }
    return Fail();  // time-out, error, or close before the declared end
}

}  // namespace velmora::platform::http
