// The table of Windows/WinHTTP error codes and what they mean to the HTTP layer.
#include "platform/win32/HttpError.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

namespace velmora::platform::http {

namespace {

struct Entry {
    uint32_t code;
    Failure failure;
};

// Wine's WinHTTP reports a receive time-out as ERROR_WINHTTP_TIMEOUT or, passed through from
// the socket, as WSAETIMEDOUT; both are time-outs.
constexpr Entry kTable[] = {
    {ERROR_WINHTTP_TIMEOUT, Failure::TimedOut},
    {WSAETIMEDOUT, Failure::TimedOut},
    {ERROR_TIMEOUT, Failure::TimedOut},
    {ERROR_WINHTTP_CANNOT_CONNECT, Failure::CannotConnect},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, Failure::CannotConnect},
    {WSAECONNREFUSED, Failure::CannotConnect},
    {WSAEHOSTUNREACH, Failure::CannotConnect},
    {WSAENETUNREACH, Failure::CannotConnect},
    {ERROR_WINHTTP_CONNECTION_ERROR, Failure::ConnectionLost},
    {WSAECONNRESET, Failure::ConnectionLost},
    {WSAECONNABORTED, Failure::ConnectionLost},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, Failure::BadResponse},
    {ERROR_WINHTTP_HEADER_SIZE_OVERFLOW, Failure::BadResponse},
    {ERROR_WINHTTP_REDIRECT_FAILED, Failure::BadResponse},
    {ERROR_WINHTTP_OPERATION_CANCELLED, Failure::Aborted},
    {ERROR_INVALID_HANDLE, Failure::Aborted},
    {ERROR_WINHTTP_INCORRECT_HANDLE_TYPE, Failure::Misuse},
    {ERROR_WINHTTP_INCORRECT_HANDLE_STATE, Failure::Misuse},
    {ERROR_INVALID_PARAMETER, Failure::Misuse},
    {ERROR_WINHTTP_INVALID_OPTION, Failure::Misuse},
    {ERROR_WINHTTP_INVALID_URL, Failure::Misuse},
    {ERROR_WINHTTP_HEADER_NOT_FOUND, Failure::Absent},
    {ERROR_NOT_ENOUGH_MEMORY, Failure::Other},
    {ERROR_WINHTTP_INTERNAL_ERROR, Failure::Other},
};

}  // namespace

Failure FailureOf(uint32_t error) {
    if (error == ERROR_SUCCESS) return Failure::None;
    for (const Entry& e : kTable)
        if (e.code == error) return e.failure;
    return Failure::Other;
}

}  // namespace velmora::platform::http
