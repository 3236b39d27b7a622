// Pure readers of the four camera replies that the property probe asks for: basic information,
// image-control list, version page and rotor help. Text in, record fields out; no I/O, so they
// can be fuzzed and tested without a camera.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Properties/CameraProperties.h"

namespace velmora::probe {

// Query paths of the four probe steps, in the order they run.
inline constexpr const char* kBasicInfoPath = "/cgi-bin/rinfo?querydata=basic";
inline constexpr const char* kImageControlPath = "/control/control?list&section=imagecontrol";
inline constexpr const char* kVersionPath = "/admin/version";
inline constexpr const char* kRotorHelpPath = "/control/rotorcgi?help";

inline constexpr const char* kManufacturer = "Mobotix";

// Reply body as text: up to its first zero byte (the request wrapper appends one).
std::string ReplyText(const std::vector<uint8_t>& body);

// Value of a key in a reply of key=value lines; empty when missing.
std::string LineValue(const std::string& reply, const std::string& key);

// What the basic-information reply tells. typeName empty means the reply is not usable.
struct BasicInfo {
    std::string typeName;
    bool hasAudio = false;
    bool hasInputCount = false;
    uint32_t inputCount = 0;
    bool hasOutputCount = false;
    uint32_t outputCount = 0;
    std::string firmware;  // as sent, possibly empty
};
BasicInfo ReadBasicInfo(const std::string& reply);

// Audio flag from the "features__audio" value: a non-zero number, "yes" or "true".
bool AudioValueMeansAudio(const std::string& value);

// The non-empty tokens of an image-control value: split at ",", CR and LF, blanks removed, text
// before the first "#" dropped.
std::vector<std::string> ValueTokens(const std::string& value);

// A size token "<width><one character><height>", each side 1..65535; false otherwise.
bool ParseSizeToken(const std::string& token, uint16_t* width, uint16_t* height);

// 1000 / rate rounded to the nearest millisecond, halves up; 0 for a rate below 1.
uint32_t RateToInterval(int32_t rate);

// Reads the image-control list: whole frame rates from "framerate100" (hundredths of a frame per
// second, at least 100), then the picture sizes from "size", each new size appended unless
// already present. True when at least one rate is known afterwards.
bool ReadImageControl(const std::string& reply, std::set<int32_t>& frameRates,
                      std::vector<RESOLUTION_INFO>& resolutions);

// The Ethernet hardware address on the version page, lower case as found; empty when absent.
std::string FindHardwareAddress(const std::string& page);

// "Mobotix_<address in upper case without separators>.preset", or empty without an address.
std::string PresetFileNameFromVersionPage(const std::string& page);

// True when the rotor help describes the PTZ rotor command ("PTZ", then "MxR\0", then
// "int32_t para1", in that order).
bool RotorHelpOffersPtz(const std::string& help);

// Error code of a failed probe: 1 when the camera refused the credentials (status 401) and the
// host core module is newer than 5.10, else 3. versionKnown false means it could not be read.
int32_t ProbeFailureCode(uint32_t lastStatusCode, bool versionKnown, const uint16_t version[4]);

}  // namespace velmora::probe
