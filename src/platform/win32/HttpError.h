// What a Windows or WinHTTP error code means to the HTTP layer: the one table from the codes
// that GetLastError gives after a failed WinHTTP call to the layer's own failure kinds.
#pragma once
#include <cstdint>

namespace velmora::platform::http {

enum class Failure {
    None,
    TimedOut,        // a connect, send or receive wait ran out
    CannotConnect,   // name not resolved, connection refused or unreachable
    ConnectionLost,  // the peer closed or reset the connection mid-exchange
    BadResponse,     // the peer's bytes are not a response this layer accepts
    Aborted,         // the request (or its handle) was closed
    Misuse,          // a call in the wrong state or with a bad argument
    Absent,          // a queried header or value does not exist
    Other,
};

// The kind of a Windows/WinHTTP error code; unknown codes are Other.
Failure FailureOf(uint32_t error);

}  // namespace velmora::platform::http
