// Per-connection request loop of the simulator's HTTP server: head parsing, authentication,
// faults, routing, request bodies as they arrive and responses through the fault rules.
#include "httpserver/HttpConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>

#include "platform/Sync.h"
#include "platform/System.h"

namespace camsim {

namespace vp = velmora::platform;

namespace {

uint32_t Remaining(uint64_t deadline) {
    uint64_t now = vp::MonotonicMilliseconds();
    return now >= deadline ? 0 : static_cast<uint32_t>(std::min<uint64_t>(deadline - now, 0xFFFFFFFFu));
}

std::string StatusLine(int status) {
    return "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ServerContext

bool ServerContext::WaitEnd(uint64_t connectionEpoch, uint32_t ms) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    return wake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return MustEnd(connectionEpoch); });
}

void ServerContext::WaitWhileOffline(uint32_t ms) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping || !offline; });
}

void ServerContext::WakeAll() {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    wake_.notify_all();
}

const Handler* ServerContext::FindRoute(std::string_view path) const {
    const Handler* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [prefix, handler] : routes) {
        if (path.substr(0, prefix.size()) == prefix && (!best || prefix.size() > bestLength)) {
            best = &handler;
            bestLength = prefix.size();
        }
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// RequestBody

RequestBody::RequestBody(HttpConnection& connection, BodyFraming framing, uint64_t logId)
    : connection_(connection), framing_(framing), logId_(logId), remaining_(framing.length) {
    if (framing_.kind == BodyFraming::Kind::None) finished_ = true;
}

void RequestBody::MarkEnd(bool complete) {
    if (finished_ || failed_) return;
    (complete ? finished_ : failed_) = true;
    connection_.context_.log.EndBody(logId_, complete);
}

long RequestBody::TakeBuffered(char* buffer, size_t size) {
    std::string& in = connection_.inbuf_;
    if (framing_.kind == BodyFraming::Kind::Length) {
        if (remaining_ == 0) {
            MarkEnd(true);
            return 0;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>({remaining_, size, in.size()}));
        if (n == 0) return -2;
        std::copy(in.begin(), in.begin() + static_cast<long>(n), buffer);
        in.erase(0, n);
        remaining_ -= n;
        connection_.context_.log.AppendBody(logId_, buffer, n);
        if (remaining_ == 0) MarkEnd(true);
        return static_cast<long>(n);
    }
    // Chunked: decode what is buffered, hand out decoded bytes first.
    if (decoded_.empty() && !in.empty() && !chunked_.Done()) {
        size_t used = chunked_.Feed(in.data(), in.size(), &decoded_);
        in.erase(0, used);
        if (chunked_.Failed()) {
            MarkEnd(false);
            return -1;
        }
    }
    if (!decoded_.empty()) {
        size_t n = std::min(size, decoded_.size());
        std::copy(decoded_.begin(), decoded_.begin() + static_cast<long>(n), buffer);
        decoded_.erase(0, n);
        connection_.context_.log.AppendBody(logId_, buffer, n);
        return static_cast<long>(n);
    }
    if (chunked_.Done()) {
        MarkEnd(true);
        return 0;
    }
    return -2;
}

long RequestBody::Read(char* buffer, size_t size, uint32_t timeoutMs) {
    if (failed_) return -1;
    if (finished_ && decoded_.empty()) return 0;
    if (size == 0) return -2;
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    for (;;) {
        long n = TakeBuffered(buffer, size);
        if (n != -2) return n;
        switch (connection_.Fill(std::min(Remaining(deadline), kPollSliceMs))) {
            case HttpConnection::FillResult::Data:
                break;
            case HttpConnection::FillResult::Closed:
            case HttpConnection::FillResult::Ended:
                MarkEnd(false);
                return -1;
            case HttpConnection::FillResult::TimedOut:
                if (Remaining(deadline) == 0) return -2;
                break;
        }
    }
}

bool RequestBody::ReadAll(std::string* out, size_t limit, uint32_t timeoutMs) {
    out->clear();
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    char buffer[4096];
    for (;;) {
        long n = Read(buffer, sizeof(buffer), Remaining(deadline));
        if (n == 0) return true;
        if (n < 0) return false;
        if (out->size() + static_cast<size_t>(n) > limit) return false;
        out->append(buffer, static_cast<size_t>(n));
    }
}

bool RequestBody::Drain() {
    uint64_t deadline = vp::MonotonicMilliseconds() + kDrainTimeoutMs;
    size_t drained = 0;
    char buffer[4096];
    while (!finished_) {
        long n = Read(buffer, sizeof(buffer), std::min<uint32_t>(Remaining(deadline), 200));
        if (n <= 0) return n == 0;
        drained += static_cast<size_t>(n);
        if (drained > kMaxDrainBytes) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// ResponseWriter

ResponseWriter::ResponseWriter(HttpConnection& connection, uint64_t logId, std::optional<FaultRule> fault,
                               RequestBody& body, bool keepAliveWanted)
    : connection_(connection), logId_(logId), fault_(std::move(fault)), body_(body), keepAliveWanted_(keepAliveWanted) {}

bool ResponseWriter::Alive() const { return !connection_.MustEnd(); }

bool ResponseWriter::Pause(uint32_t ms) {
    if (!connection_.MustEnd() && ms > 0) connection_.context_.WaitEnd(connection_.epoch_, ms);
    return Alive();
}

bool ResponseWriter::Send(const char* data, size_t size) {
    while (size > 0) {
        if (connection_.MustEnd()) return false;
        size_t piece = std::min(size, kSendPieceBytes);
        bool trickled = false;
        if (fault_) {
            if (fault_->closeAfterBytes >= 0) {
                uint64_t limit = static_cast<uint64_t>(fault_->closeAfterBytes);
                if (sent_ >= limit) {
                    connection_.Drop();
                    return false;
                }
                piece = static_cast<size_t>(std::min<uint64_t>(piece, limit - sent_));
            }
            if (fault_->stallMs > 0 && !stalled_) {
                if (sent_ < fault_->stallAfterBytes) {
                    piece = static_cast<size_t>(std::min<uint64_t>(piece, fault_->stallAfterBytes - sent_));
                } else {
                    stalled_ = true;
                    if (connection_.context_.WaitEnd(connection_.epoch_, fault_->stallMs)) return false;
                }
            }
            trickled = Trickling(&piece);
            if (trickled) piece = std::min(piece, fault_->trickleBytes);
        }
        if (!connection_.SendRaw(data, piece)) return false;
        sent_ += piece;
        data += piece;
        size -= piece;
        if (trickled && fault_->trickleIntervalMs > 0 &&
            connection_.context_.WaitEnd(connection_.epoch_, fault_->trickleIntervalMs)) {
            return false;
        }
    }
    // A close-after limit reached exactly at the end of these bytes still closes now.
    if (fault_ && fault_->closeAfterBytes >= 0 && sent_ >= static_cast<uint64_t>(fault_->closeAfterBytes)) {
        connection_.Drop();
        return false;
    }
    return true;
}

bool ResponseWriter::Trickling(size_t* limit) const {
    if (fault_->trickleBytes == 0) return false;
    if (!fault_->trickleBodyOnly || sent_ >= headEnd_) return true;
    *limit = static_cast<size_t>(std::min<uint64_t>(*limit, headEnd_ - sent_));
    return false;
}

bool ResponseWriter::Respond(int status, std::string_view contentType, std::string_view body,
                             const std::vector<Header>& extra) {
    if (status_ != 0 || connection_.MustEnd()) return false;
    status_ = status;
    connection_.context_.log.SetStatus(logId_, status);
    // The connection can only be reused when the request body is out of the way.
    keepAlive_ = keepAliveWanted_ && (body_.Finished() || (drainBody_ && body_.Drain()));
    std::string head = StatusLine(status);
    head += "Server: quillon-camsim\r\n";
    if (!contentType.empty()) head += "Content-Type: " + std::string(contentType) + "\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += keepAlive_ ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const Header& h : extra) head += h.name + ": " + h.value + "\r\n";
    head += PaddingHeaders();
    head += "\r\n";
    headEnd_ = sent_ + head.size();
    head.append(body);
    return Send(head.data(), head.size());
}

bool ResponseWriter::BeginStream(int status, std::string_view contentType, const std::vector<Header>& extra,
                                 bool chunked) {
    if (status_ != 0 || connection_.MustEnd()) return false;
    status_ = status;
    streaming_ = true;
    chunked_ = chunked;
    connection_.context_.log.SetStatus(logId_, status);
    std::string head = StatusLine(status);
    head += "Server: quillon-camsim\r\n";
    head += "Content-Type: " + std::string(contentType) + "\r\n";
    head += "Cache-Control: no-cache\r\n";
    if (chunked) head += "Transfer-Encoding: chunked\r\n";
    head += "Connection: close\r\n";
    for (const Header& h : extra) head += h.name + ": " + h.value + "\r\n";
    head += PaddingHeaders();
    head += "\r\n";
    headEnd_ = sent_ + head.size();
    return Send(head.data(), head.size());
}

std::string ResponseWriter::PaddingHeaders() const {
    std::string lines;
    if (!fault_ || fault_->headBytes == 0) return lines;
    // A line is at least its name, ": ", one value byte and CR LF.
    const size_t lineBytes = std::max<size_t>(fault_->headLineBytes, 32);
    lines.reserve(fault_->headBytes + lineBytes);
    for (size_t n = 0; lines.size() < fault_->headBytes; ++n) {
        std::string name = "X-Camsim-Padding-" + std::to_string(n) + ": ";
        const size_t want = std::min(lineBytes, fault_->headBytes - lines.size());
        const size_t value = want > name.size() + 3 ? want - name.size() - 2 : 1;
        lines += name;
        lines.append(value, 'p');
        lines += "\r\n";
    }
    return lines;
}

bool ResponseWriter::Write(const void* data, size_t size) {
    if (!streaming_) return false;
    if (size == 0) return Alive();
    if (!chunked_) return Send(static_cast<const char*>(data), size);
    char line[32];
    int n = std::snprintf(line, sizeof(line), "%zx\r\n", size);
    return Send(line, static_cast<size_t>(n)) && Send(static_cast<const char*>(data), size) && Send("\r\n", 2);
}

bool ResponseWriter::Finish() {
    if (streaming_ && chunked_ && Alive()) return Send("0\r\n\r\n", 5);
    return true;
}

bool ResponseWriter::KeepAlive() const { return status_ != 0 && !streaming_ && keepAlive_ && !connection_.MustEnd(); }

// ---------------------------------------------------------------------------------------------
// HttpConnection

HttpConnection::HttpConnection(ServerContext& context, vp::TcpSocket socket, uint64_t epoch)
    : context_(context), socket_(std::move(socket)), epoch_(epoch) {}

void HttpConnection::Run() {
    vp::SetCurrentThreadName("camsim-conn");
    while (!MustEnd() && ServeOne()) {
    }
    socket_.Close();
}

void HttpConnection::Drop() {
    dropped_ = true;
    socket_.Close();
}

HttpConnection::FillResult HttpConnection::Fill(uint32_t timeoutMs) {
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    char buffer[kReceiveChunkBytes];
    for (;;) {
        if (MustEnd()) return FillResult::Ended;
        long n = socket_.Receive(buffer, sizeof(buffer), std::min(Remaining(deadline), kPollSliceMs));
        if (n > 0) {
            inbuf_.append(buffer, static_cast<size_t>(n));
            return FillResult::Data;
        }
        if (n == 0 || n == -1) {
            // The client is gone (or half-closed mid-request): nothing more can be answered.
            dropped_ = true;
            return FillResult::Closed;
        }
        if (Remaining(deadline) == 0) return FillResult::TimedOut;
    }
}

bool HttpConnection::SendRaw(const char* data, size_t size) {
    if (dropped_) return false;
    if (!socket_.SendAll(data, size, context_.options.sendTimeoutMs)) {
        Drop();
        return false;
    }
    return true;
}

void HttpConnection::SendPlain(int status) {
    std::string text = StatusLine(status) + "Server: quillon-camsim\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendRaw(text.data(), text.size());
}

void HttpConnection::SendGarbage(size_t size) {
    // Deterministic bytes that cannot be taken for a status line.
    std::string junk(size, '\0');
    uint32_t x = 0x2545F491u;
    for (char& c : junk) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    if (!junk.empty() && junk[0] == 'H') junk[0] = '\x01';
    SendRaw(junk.data(), junk.size());
}

bool HttpConnection::WaitForHead(RequestHead* head) {
    uint64_t idleDeadline = vp::MonotonicMilliseconds() + context_.options.idleTimeoutMs;
    uint64_t headDeadline = 0;
    for (;;) {
        if (!inbuf_.empty()) {
            size_t consumed = 0;
            switch (ParseRequestHead(inbuf_, head, &consumed)) {
                case ParseResult::Complete:
                    inbuf_.erase(0, consumed);
                    return true;
                case ParseResult::Malformed:
                    SendPlain(400);
                    return false;
                case ParseResult::TooLarge:
                    SendPlain(431);
                    return false;
                case ParseResult::NeedMore:
                    if (headDeadline == 0) headDeadline = vp::MonotonicMilliseconds() + context_.options.headTimeoutMs;
                    break;
            }
        }
        uint64_t deadline = headDeadline ? headDeadline : idleDeadline;
        FillResult r = Fill(Remaining(deadline));
        if (r == FillResult::Data) continue;
        if (r == FillResult::TimedOut && headDeadline) SendPlain(408);
        return false;
    }
}

bool HttpConnection::ServeOne() {
    RequestHead head;
    if (!WaitForHead(&head)) return false;
    uint64_t id = context_.log.Add(head);
    BodyFraming framing = DecideBodyFraming(head);
    if (framing.kind == BodyFraming::Kind::Invalid) {
        context_.log.SetStatus(id, 400);
        SendPlain(400);
        return false;
    }
    std::optional<FaultRule> fault = context_.faults.Take(head.method, head.target);
    RequestBody body(*this, framing, id);
    ResponseWriter writer(*this, id, fault, body, head.WantsKeepAlive());
    if (fault && fault->garbageBytes > 0) {
        SendGarbage(fault->garbageBytes);
        return false;
    }
    Dispatch(head, body, writer);
    writer.Finish();
    if (!writer.Responded() && writer.Alive()) writer.Respond(500, "text/plain", "ERR: no answer\r\n");
    return writer.KeepAlive();
}

void HttpConnection::Dispatch(const RequestHead& head, RequestBody& body, ResponseWriter& writer) {
    const std::optional<FaultRule>& fault = writer.fault_;
    std::vector<Header> challenges;
    AuthVerdict verdict = fault && fault->status ? AuthVerdict::Accepted : context_.auth.Check(head);
    if (verdict != AuthVerdict::Accepted || (fault && fault->status == 401)) {
        for (std::string& c : context_.auth.Challenges(verdict == AuthVerdict::StaleNonce))
            challenges.push_back({"WWW-Authenticate", std::move(c)});
    }
    if (fault && fault->status) {
        std::string text = fault->body.empty() ? std::to_string(fault->status) + " " + ReasonPhrase(fault->status) + "\r\n"
                                               : fault->body;
        writer.Respond(fault->status, "text/plain", text, challenges);
        return;
    }
    if (verdict != AuthVerdict::Accepted) {
        // A refused request's body is not waited for: it may be a long upload that never ends.
        writer.drainBody_ = false;
        writer.Respond(401, "text/html", "<html><body><h1>401 Unauthorized</h1></body></html>\r\n", challenges);
        return;
    }
    if (body.HasBody() && EqualsIgnoreCase(head.Find("Expect").value_or(""), "100-continue")) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        SendRaw(kContinue, sizeof(kContinue) - 1);
    }
    const Handler* handler = context_.FindRoute(head.path);
    if (!handler) {
        writer.Respond(404, "text/plain", "ERR: not found\r\n");
        return;
    }
    try {
        (*handler)(head, body, writer);
    } catch (const std::exception&) {
        if (!writer.Responded()) writer.Respond(500, "text/plain", "ERR: internal error\r\n");
    }
}

}  // namespace camsim
