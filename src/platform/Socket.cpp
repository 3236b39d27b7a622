// What the TCP socket is on every system: ownership of the descriptor, moved, closed once.
#include "platform/Socket.h"

#include <utility>

namespace velmora::platform {

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

}  // namespace velmora::platform
