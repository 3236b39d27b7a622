// Why a TCP connection cannot be made: for tools that tell a user what stands between them and a
// camera (a name that does not resolve, nothing listening, no route, no answer at all).
#pragma once
#include <cstdint>
#include <string>

namespace velmora::platform {

enum class ConnectOutcome {
    Connected,     // a connection was made (and closed again)
    NameNotFound,  // the host name does not resolve
    Refused,       // the host answered, but nothing listens on the port
    Unreachable,   // no route to the host or its network
    TimedOut,      // no answer within the time-out
    Failed,        // any other failure
};

// Connects to host:port within the time-out and closes at once. With several addresses for the
// name, Connected when any connects, else the outcome of the first address.
ConnectOutcome CheckTcpConnect(const std::string& host, uint16_t port, uint32_t timeoutMs);

}  // namespace velmora::platform
