// Windows connection check: non-blocking Winsock connect, the failure read from select's error
// set (SO_ERROR) or WSAGetLastError.
#include "platform/ConnectCheck.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/System.h"

namespace velmora::platform {

namespace {

ConnectOutcome FromWsaError(int err) {
    switch (err) {
        case 0: return ConnectOutcome::Connected;
        case WSAECONNREFUSED: return ConnectOutcome::Refused;
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
        case WSAENETDOWN:
        case WSAEHOSTDOWN: return ConnectOutcome::Unreachable;
        case WSAETIMEDOUT: return ConnectOutcome::TimedOut;
        default: return ConnectOutcome::Failed;
    }
}

ConnectOutcome TryAddress(const addrinfo* ai, uint64_t deadline) {
    SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (s == INVALID_SOCKET) return ConnectOutcome::Failed;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    ConnectOutcome outcome = ConnectOutcome::Connected;
    if (connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
        int err = WSAGetLastError();
        outcome = FromWsaError(err);
        if (err == WSAEWOULDBLOCK) {
            outcome = ConnectOutcome::TimedOut;
            uint64_t now = MonotonicMilliseconds();
            if (now < deadline) {
                uint64_t left = deadline - now;
                fd_set writable, failed;
                FD_ZERO(&writable);
                FD_ZERO(&failed);
                FD_SET(s, &writable);
                FD_SET(s, &failed);
                timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
                int rc = select(0, nullptr, &writable, &failed, &tv);
                if (rc > 0) {
                    int soError = 0;
                    int len = sizeof(soError);
                    if (FD_ISSET(s, &failed) &&
                        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) == 0)
                        outcome = FromWsaError(soError ? soError : WSAECONNREFUSED);
                    else
                        outcome = FD_ISSET(s, &writable) ? ConnectOutcome::Connected : ConnectOutcome::Failed;
                } else if (rc < 0) {
                    outcome = ConnectOutcome::Failed;
                }
            }
        }
    }
    closesocket(s);
    return outcome;
}

}  // namespace

ConnectOutcome CheckTcpConnect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return ConnectOutcome::Failed;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    ConnectOutcome first = ConnectOutcome::Failed;
    if (rc != 0 || !list) {
        first = rc == WSAHOST_NOT_FOUND || rc == WSANO_DATA || rc == WSATRY_AGAIN ? ConnectOutcome::NameNotFound
                                                                                   : ConnectOutcome::Failed;
    } else {
        const uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
        bool tried = false;
        for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
            ConnectOutcome outcome = TryAddress(ai, deadline);
            if (outcome == ConnectOutcome::Connected) {
                first = outcome;
                break;
            }
            if (!tried) first = outcome;
            tried = true;
        }
    }
    if (list) freeaddrinfo(list);
    WSACleanup();
    return first;
}

}  // namespace velmora::platform
