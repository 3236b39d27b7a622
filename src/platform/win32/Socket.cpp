// Windows Sockets TCP sockets: non-blocking connect with a deadline, select-bounded send and
// receive. The socket keeps Winsock started for itself, independent of the channels' start-up.
#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "platform/System.h"

namespace velmora::platform {

namespace {

// Winsock counts start-ups, so this one lives beside any other user's and ends with the module.
struct WinsockUser {
    WinsockUser() {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUser() {
        if (started) WSACleanup();
    }
    bool started = false;
};

bool WinsockStarted() {
    static WinsockUser user;
    return user.started;
}

// The header keeps an int; kernel handles use only their low 32 bits, but a socket whose value
// does not fit is refused rather than truncated.
int ToDescriptor(SOCKET s) {
    if (s == INVALID_SOCKET) return -1;
    if (s > static_cast<SOCKET>(INT_MAX)) {
        closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

SOCKET ToSocket(int fd) { return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd); }

enum class Wait { Read, Write, Connect };

// Waits for readiness within the time-out: 1 ready (or failed connect), 0 time-out, -1 error.
int WaitFor(SOCKET s, Wait what, uint32_t timeoutMs) {
    uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    for (;;) {
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);  // a refused connect shows in the exception set
        uint64_t now = MonotonicMilliseconds();
        uint64_t left = now >= deadline ? 0 : deadline - now;
        timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
        int rc = what == Wait::Read ? select(0, &ready, nullptr, nullptr, &tv)
                                    : select(0, nullptr, &ready, what == Wait::Connect ? &failed : nullptr, &tv);
        if (rc > 0) return 1;
        if (rc == 0) return 0;
        if (WSAGetLastError() != WSAEINTR) return -1;
    }
}

void SetNonBlocking(SOCKET s, bool on) {
    u_long mode = on ? 1 : 0;
    ioctlsocket(s, FIONBIO, &mode);
}

void SetNoDelay(SOCKET s) {
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
}

bool WouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS; }

}  // namespace

bool TcpSocket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    Close();
    if (!WinsockStarted()) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) return false;
    uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        SetNonBlocking(s, true);
        bool connected = connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0;
        if (!connected && WouldBlock(WSAGetLastError())) {
            uint64_t now = MonotonicMilliseconds();
            uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
            int err = 0;
            int len = sizeof(err);
            connected = WaitFor(s, Wait::Connect, left) == 1 &&
                        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 && err == 0;
        }
        if (connected) {
            SetNoDelay(s);
            fd_ = ToDescriptor(s);  // stays non-blocking: every wait goes through select
            if (fd_ >= 0) break;
            continue;
        }
        closesocket(s);
    }
    freeaddrinfo(list);
    return fd_ >= 0;
}

bool TcpSocket::SendAll(const void* data, size_t size, uint32_t timeoutMs) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (fd_ < 0 || WaitFor(ToSocket(fd_), Wait::Write, timeoutMs) != 1) return false;
        int piece = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        int n = ::send(ToSocket(fd_), p, piece, 0);
        if (n == SOCKET_ERROR) {
            if (WouldBlock(WSAGetLastError())) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

long TcpSocket::Receive(void* data, size_t size, uint32_t timeoutMs) {
    if (fd_ < 0) return -1;
    // After a receive that filled the buffer, bytes are usually still waiting: try before waiting.
    bool tryFirst = moreWaiting_;
    moreWaiting_ = false;
    int piece = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    for (int spins = 0; spins < 1000; ++spins) {
        if (!tryFirst) {
            int ready = WaitFor(ToSocket(fd_), Wait::Read, timeoutMs);
            if (ready == 0) return -2;
            if (ready < 0) return -1;
        }
        tryFirst = false;
        int n = ::recv(ToSocket(fd_), static_cast<char*>(data), piece, 0);
        if (n >= 0) {
            moreWaiting_ = n > 0 && n == piece;
            return n;
        }
        if (!WouldBlock(WSAGetLastError())) return -1;
    }
    return -2;  // readable again and again without data: treat as a time-out
}

bool TcpSocket::WaitReadable(uint32_t timeoutMs) {
    return fd_ >= 0 && WaitFor(ToSocket(fd_), Wait::Read, timeoutMs) == 1;
}

void TcpSocket::ShutdownWrite() {
    if (fd_ >= 0) ::shutdown(ToSocket(fd_), SD_SEND);
}

void TcpSocket::ShutdownBoth() {
    if (fd_ >= 0) ::shutdown(ToSocket(fd_), SD_BOTH);
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        closesocket(ToSocket(fd_));
        fd_ = -1;
    }
}

bool TcpSocket::LooksClosed() {
    // Readable while no request is outstanding: a close or stray bytes; neither is reusable.
    return fd_ < 0 || WaitFor(ToSocket(fd_), Wait::Read, 0) != 0;
}

bool TcpSocket::Listen(const std::string& address, uint16_t port, int backlog) {
    Close();
    if (!WinsockStarted()) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    // No SO_REUSEADDR: on Windows it would let another program bind the same port.
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0 || listen(s, backlog) != 0) {
        closesocket(s);
        return false;
    }
    SetNonBlocking(s, true);
    fd_ = ToDescriptor(s);
    return fd_ >= 0;
}

uint16_t TcpSocket::LocalPort() const {
    sockaddr_in sa{};
    int len = sizeof(sa);
    if (fd_ < 0 || getsockname(ToSocket(fd_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool TcpSocket::Accept(TcpSocket* client, uint32_t timeoutMs) {
    if (fd_ < 0 || WaitFor(ToSocket(fd_), Wait::Read, timeoutMs) != 1) return false;
    SOCKET s = ::accept(ToSocket(fd_), nullptr, nullptr);
    if (s == INVALID_SOCKET) return false;
    SetNonBlocking(s, true);  // accepted sockets inherit it, but say so
    SetNoDelay(s);
    int fd = ToDescriptor(s);
    if (fd < 0) return false;
    *client = TcpSocket(fd);
    return true;
}

}  // namespace velmora::platform
