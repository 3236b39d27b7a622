// A hand-rolled HTTP/1.1 client over platform::TcpSocket for the simulator tests: sends exactly the
// bytes a test gives and reads responses (Content-Length, chunked or until close) with time-outs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpserver/HttpMessage.h"
#include "platform/Socket.h"

namespace camsim::test {

constexpr uint32_t kIoTimeoutMs = 5000;

struct Response {
    int status = 0;
    std::vector<Header> headers;
    std::string body;
    std::optional<std::string> Find(std::string_view name) const;
    std::vector<std::string> All(std::string_view name) const;
};

class RawHttp {
public:
    explicit RawHttp(uint16_t port) : port_(port) {}
    bool Connect();
    bool Send(std::string_view bytes);
    // GET with Host and the extra header lines (each "Name: value").
    bool SendGet(const std::string& target, const std::vector<std::string>& headers = {});
    // Reads one whole response; false on time-out, close before the end, or a malformed response.
    bool ReadResponse(Response* response, uint32_t timeoutMs = kIoTimeoutMs);
    // Reads only the status line and headers; body bytes read with them stay buffered.
    bool ReadHead(Response* response, uint32_t timeoutMs = kIoTimeoutMs);
    // Buffered bytes first, then up to max more; empty on time-out or close.
    std::string ReadSome(size_t max, uint32_t timeoutMs = kIoTimeoutMs);
    // Reads until exactly count bytes are buffered; false when the stream ends or times out.
    bool ReadExactly(size_t count, std::string* out, uint32_t timeoutMs = kIoTimeoutMs);
    // Reads through the first occurrence of delimiter; *out gets the bytes before it.
    bool ReadUntil(std::string_view delimiter, std::string* out, uint32_t timeoutMs = kIoTimeoutMs);
    // Everything until the server closes (bounded by the time-out and by max bytes).
    std::string ReadToClose(uint32_t timeoutMs = kIoTimeoutMs, size_t max = 64 * 1024 * 1024);
    // True when the server closed (orderly or reset) within the time-out, unread bytes dropped.
    bool WaitClosed(uint32_t timeoutMs = kIoTimeoutMs);
    void Close() { socket_.Close(); }
    velmora::platform::TcpSocket& Socket() { return socket_; }

private:
    // Receives more bytes into buffer_; false on close, error or time-out.
    bool Fill(uint32_t timeoutMs);
    uint16_t port_;
    velmora::platform::TcpSocket socket_;
    std::string buffer_;
    bool closed_ = false;
};

// One request on a fresh connection: returns the response (status 0 when none came).
Response Get(uint16_t port, const std::string& target, const std::vector<std::string>& headers = {});

}  // namespace camsim::test
