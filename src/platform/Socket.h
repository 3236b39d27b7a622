// Blocking TCP sockets with bounded waits, for the HTTP layer and the camera simulator.
// Every operation that can wait takes a time-out in milliseconds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::platform {

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;

    // Resolves host (name or address) and connects within the time-out.
    bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs);
    // Sends everything or fails; false on error or time-out.
    bool SendAll(const void* data, size_t size, uint32_t timeoutMs);
    // Receives up to size bytes: >0 bytes read, 0 orderly close, -1 error, -2 time-out.
    long Receive(void* data, size_t size, uint32_t timeoutMs);
    // True when data (or a close) is ready within the time-out.
    bool WaitReadable(uint32_t timeoutMs);
    void ShutdownWrite();
    // Ends both directions without releasing the descriptor; safe while another thread waits on
    // this socket (its wait then ends), since the descriptor stays valid until Close.
    void ShutdownBoth();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Peer closed or failed, seen without blocking (for reusing idle connections).
    bool LooksClosed();

    // Server side.
    bool Listen(const std::string& address, uint16_t port, int backlog = 64);
    uint16_t LocalPort() const;
    // Accepts one connection within the time-out; false on time-out or error.
    bool Accept(TcpSocket* client, uint32_t timeoutMs);

private:
    explicit TcpSocket(int fd) : fd_(fd) {}
    int fd_ = -1;
    // The last receive filled the caller's buffer, so more bytes are probably waiting (a hint).
    bool moreWaiting_ = false;
};

}  // namespace velmora::platform
