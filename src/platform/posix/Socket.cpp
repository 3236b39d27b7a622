// POSIX TCP sockets: non-blocking connect with a deadline, poll-bounded send and receive.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/System.h"

namespace velmora::platform {

namespace {

// Waits for the events within the time-out, restarting on signals with the remaining time.
int PollFor(int fd, short events, uint32_t timeoutMs) {
    uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    for (;;) {
        pollfd p{fd, events, 0};
        uint64_t now = MonotonicMilliseconds();
        int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
        int rc = poll(&p, 1, wait);
        if (rc >= 0) return rc == 0 ? 0 : (p.revents ? 1 : 0);
        if (errno != EINTR) return -1;
    }
}

void SetNonBlocking(int fd, bool on) {
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

}  // namespace

bool TcpSocket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) return false;
    uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        SetNonBlocking(fd, true);
        int rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            uint64_t now = MonotonicMilliseconds();
            uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
            int err = 0;
            socklen_t len = sizeof(err);
            if (PollFor(fd, POLLOUT, left) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
                err == 0)
                rc = 0;
        }
        if (rc == 0) {
            SetNonBlocking(fd, false);
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            fd_ = fd;
            break;
        }
        ::close(fd);
    }
    freeaddrinfo(list);
    return fd_ >= 0;
}

bool TcpSocket::SendAll(const void* data, size_t size, uint32_t timeoutMs) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (fd_ < 0 || PollFor(fd_, POLLOUT, timeoutMs) != 1) return false;
        ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

long TcpSocket::Receive(void* data, size_t size, uint32_t timeoutMs) {
    if (fd_ < 0) return -1;
    // After a receive that filled the buffer, bytes are usually still waiting: try before polling,
    // which saves a system call per read in a busy stream.
    bool tryFirst = moreWaiting_;
    moreWaiting_ = false;
    for (;;) {
        if (!tryFirst) {
            int ready = PollFor(fd_, POLLIN, timeoutMs);
            if (ready == 0) return -2;
            if (ready < 0) return -1;
        }
        tryFirst = false;
        ssize_t n = ::recv(fd_, data, size, MSG_DONTWAIT);
        if (n >= 0) {
            moreWaiting_ = n > 0 && static_cast<size_t>(n) == size;
            return static_cast<long>(n);
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return -1;
    }
}

bool TcpSocket::WaitReadable(uint32_t timeoutMs) { return fd_ >= 0 && PollFor(fd_, POLLIN, timeoutMs) == 1; }

void TcpSocket::ShutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TcpSocket::ShutdownBoth() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool TcpSocket::LooksClosed() {
    if (fd_ < 0) return true;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    // Readable while no request is outstanding: a close or stray bytes; neither is reusable.
    return true;
}

bool TcpSocket::Listen(const std::string& address, uint16_t port, int backlog) {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(fd, backlog) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

uint16_t TcpSocket::LocalPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool TcpSocket::Accept(TcpSocket* client, uint32_t timeoutMs) {
    if (fd_ < 0 || PollFor(fd_, POLLIN, timeoutMs) != 1) return false;
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    *client = TcpSocket(fd);
    return true;
}

}  // namespace velmora::platform
