// Test HTTP client: response parsing over a buffered socket.
#include "RawHttp.h"

#include <algorithm>

#include "platform/System.h"

namespace camsim::test {

namespace vp = velmora::platform;

namespace {

uint32_t Left(uint64_t deadline) {
    uint64_t now = vp::MonotonicMilliseconds();
    return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
}

}  // namespace

std::optional<std::string> Response::Find(std::string_view name) const {
    for (const Header& h : headers)
        if (EqualsIgnoreCase(h.name, name)) return h.value;
    return std::nullopt;
}

std::vector<std::string> Response::All(std::string_view name) const {
    std::vector<std::string> out;
    for (const Header& h : headers)
        if (EqualsIgnoreCase(h.name, name)) out.push_back(h.value);
    return out;
}

bool RawHttp::Connect() {
    buffer_.clear();
    closed_ = false;
    return socket_.Connect("127.0.0.1", port_, kIoTimeoutMs);
}

bool RawHttp::Send(std::string_view bytes) { return socket_.SendAll(bytes.data(), bytes.size(), kIoTimeoutMs); }

bool RawHttp::SendGet(const std::string& target, const std::vector<std::string>& headers) {
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    for (const std::string& h : headers) request += h + "\r\n";
    request += "\r\n";
    return Send(request);
}

bool RawHttp::Fill(uint32_t timeoutMs) {
    if (closed_) return false;
    char chunk[16384];
    long n = socket_.Receive(chunk, sizeof(chunk), timeoutMs);
    if (n > 0) {
        buffer_.append(chunk, static_cast<size_t>(n));
        return true;
    }
    if (n == 0 || n == -1) closed_ = true;
    return false;
}

bool RawHttp::ReadHead(Response* r, uint32_t timeoutMs) {
    *r = Response();
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill(Left(deadline))) return false;
    }
    std::string head = buffer_.substr(0, end + 2);
    buffer_.erase(0, end + 4);
    size_t lineEnd = head.find("\r\n");
    std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.compare(0, 9, "HTTP/1.1 ") != 0 || statusLine.size() < 12) return false;
    r->status = std::stoi(statusLine.substr(9, 3));
    for (size_t pos = lineEnd + 2; pos < head.size();) {
        size_t next = head.find("\r\n", pos);
        std::string line = head.substr(pos, next - pos);
        pos = next + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos) return false;
        size_t v = line.find_first_not_of(' ', colon + 1);
        r->headers.push_back({line.substr(0, colon), v == std::string::npos ? std::string() : line.substr(v)});
    }
    return true;
}

bool RawHttp::ReadResponse(Response* r, uint32_t timeoutMs) {
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    // Interim 1xx responses carry no body; the final one follows.
    do {
        if (!ReadHead(r, Left(deadline))) return false;
    } while (r->status >= 100 && r->status < 200);
    if (std::optional<std::string> te = r->Find("Transfer-Encoding")) {
        ChunkedDecoder decoder;
        for (;;) {
            size_t used = decoder.Feed(buffer_.data(), buffer_.size(), &r->body);
            buffer_.erase(0, used);
            if (decoder.Done()) return true;
            if (decoder.Failed() || !Fill(Left(deadline))) return false;
        }
    }
    if (std::optional<std::string> length = r->Find("Content-Length")) {
        size_t n = std::stoul(*length);
        if (!ReadExactly(n, &r->body, Left(deadline))) return false;
        return true;
    }
    r->body = ReadToClose(Left(deadline));
    return true;
}

std::string RawHttp::ReadSome(size_t max, uint32_t timeoutMs) {
    if (buffer_.empty()) Fill(timeoutMs);
    std::string out = buffer_.substr(0, max);
    buffer_.erase(0, out.size());
    return out;
}

bool RawHttp::ReadExactly(size_t count, std::string* out, uint32_t timeoutMs) {
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    while (buffer_.size() < count) {
        if (!Fill(Left(deadline))) return false;
    }
    out->assign(buffer_, 0, count);
    buffer_.erase(0, count);
    return true;
}

bool RawHttp::ReadUntil(std::string_view delimiter, std::string* out, uint32_t timeoutMs) {
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    size_t at;
    while ((at = buffer_.find(delimiter)) == std::string::npos) {
        if (!Fill(Left(deadline))) return false;
    }
    out->assign(buffer_, 0, at);
    buffer_.erase(0, at + delimiter.size());
    return true;
}

std::string RawHttp::ReadToClose(uint32_t timeoutMs, size_t max) {
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    while (!closed_ && buffer_.size() < max && Left(deadline) > 0) Fill(Left(deadline));
    std::string out;
    out.swap(buffer_);
    return out;
}

bool RawHttp::WaitClosed(uint32_t timeoutMs) {
    uint64_t deadline = vp::MonotonicMilliseconds() + timeoutMs;
    while (!closed_) {
        if (Left(deadline) == 0) return false;
        Fill(Left(deadline));
        buffer_.clear();
    }
    return true;
}

Response Get(uint16_t port, const std::string& target, const std::vector<std::string>& headers) {
    RawHttp http(port);
    Response r;
    if (!http.Connect() || !http.SendGet(target, headers) || !http.ReadResponse(&r)) return Response();
    return r;
}

}  // namespace camsim::test
