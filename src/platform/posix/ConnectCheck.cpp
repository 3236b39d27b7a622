// POSIX connection check: non-blocking connect, the failure read from errno or SO_ERROR.
#include "platform/ConnectCheck.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/System.h"

namespace velmora::platform {

namespace {

ConnectOutcome FromErrno(int err) {
    switch (err) {
        case 0: return ConnectOutcome::Connected;
        case ECONNREFUSED: return ConnectOutcome::Refused;
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ENETDOWN:
        case EHOSTDOWN: return ConnectOutcome::Unreachable;
        case ETIMEDOUT: return ConnectOutcome::TimedOut;
        default: return ConnectOutcome::Failed;
    }
}

ConnectOutcome TryAddress(const addrinfo* ai, uint64_t deadline) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) return ConnectOutcome::Failed;
    ConnectOutcome outcome = ConnectOutcome::Connected;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        outcome = FromErrno(errno);
        if (errno == EINPROGRESS) {
            outcome = ConnectOutcome::TimedOut;
            for (;;) {  // ends at the deadline: each pass waits only for what is left of it
                uint64_t now = MonotonicMilliseconds();
                if (now >= deadline) break;
                pollfd p{fd, POLLOUT, 0};
                int rc = poll(&p, 1, static_cast<int>(deadline - now));
                if (rc < 0 && errno == EINTR) continue;
                if (rc == 1) {
                    int err = 0;
                    socklen_t len = sizeof(err);
                    outcome = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 ? FromErrno(err)
                                                                                    : ConnectOutcome::Failed;
                } else if (rc < 0) {
                    outcome = ConnectOutcome::Failed;
                }
                break;
            }
        }
    }
    ::close(fd);
    return outcome;
}

}  // namespace

ConnectOutcome CheckTcpConnect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0 || !list) {
        if (list) freeaddrinfo(list);
        return rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL || rc == EAI_AGAIN ? ConnectOutcome::NameNotFound
                                                                                         : ConnectOutcome::Failed;
    }
    const uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
    ConnectOutcome first = ConnectOutcome::Failed;
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
    freeaddrinfo(list);
    return first;
}

}  // namespace velmora::platform
