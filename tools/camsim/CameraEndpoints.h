// The camera's CGI interface (everything but the live streams): image control, configuration store,
// signal outputs, the property pages, and PTZ through the rotor upload and click requests.
// Handlers run on connection threads and keep all state in the CameraModel.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "camsim/CameraModel.h"
#include "httpserver/HttpServer.h"

namespace camsim {

// Rotor uploads that stay silent this long are ended by the camera.
constexpr uint32_t kRotorIdleLimitMs = 10 * 60 * 1000;

void RegisterCameraEndpoints(HttpServer& server, CameraModel& camera);

// "WxH" with both sides within the picture limits.
bool ParsePictureSize(std::string_view text, uint32_t* width, uint32_t* height);
// A whole decimal number (optional sign) that fits an int.
std::optional<int> ParseWholeNumber(std::string_view text);

}  // namespace camsim
