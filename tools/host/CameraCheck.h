// What stands between the host and a camera, in one line for the user: the host's own look at the
// camera before it opens a driver, since the driver reports network trouble only as a channel that
// stays offline.
//
// CheckCamera connects, then asks for the camera's basic information with the given credentials
// (answering a Basic or Digest challenge as the driver does). It runs on the caller's thread and
// every wait is bounded by the time-out.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/HostObjects.h"

namespace quillon::host {

// The first request a camera of this kind answers; a 404 here means another kind of device.
constexpr const char* kCameraCheckPath = "/cgi-bin/rinfo?querydata=basic";
constexpr uint32_t kCameraCheckTimeoutMs = 5000;

enum class CameraProblem {
    None,
    NameNotFound,
    ConnectionRefused,
    Unreachable,
    NoAnswer,            // no connection or no response within the time-out
    CredentialsMissing,  // 401 and the URL gives no user
    CredentialsRefused,  // 401 with the credentials
    AccessForbidden,     // 403
    NotThisKind,         // 404 on the camera's path
    UnexpectedStatus,    // another status that is not 2xx
    Failed,              // the exchange failed in another way
};

struct CameraCheck {
    CameraProblem problem = CameraProblem::None;
    int status = 0;       // HTTP status of the last answer; 0 when none came
    std::string schemes;  // what a 401 asked for: "Basic", "Digest", "Digest or Basic", or the header's scheme
    std::string text;     // the user's line without the command name; empty when nothing is wrong
};

CameraCheck CheckCamera(const CameraConfig& camera, uint32_t timeoutMs = kCameraCheckTimeoutMs);

// What the driver's own lines say went wrong with a request to the camera: the last refused
// request ("... sent does not process request "PATH", status code = N") as "the camera answered
// HTTP N for PATH"; empty when the lines hold none.
std::string RefusedRequestFromDriverLog(const std::vector<LogLine>& lines);

// Runs CheckCamera; on a problem prints the one line "<command>: <text>" and returns false.
bool CameraReachable(const std::string& command, const CameraConfig& camera, uint32_t timeoutMs, std::ostream& out);

}  // namespace quillon::host
