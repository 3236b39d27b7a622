// State of the simulated camera: image settings, identity texts, inputs and outputs, PTZ position
// and presets, and the commands received (rotor packets, click requests, output switches).
//
// Thread-safe: connection threads apply commands while tests and the CLI read and change the
// state. Every getter returns a copy.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

constexpr unsigned kMaxInputs = 26;   // INA..INZ
constexpr unsigned kMaxOutputs = 16;
constexpr int kPresetCount = 256;
constexpr size_t kMaxRecordedCommands = 100000;
constexpr uint32_t kMinPictureSide = 16;
constexpr uint32_t kMaxPictureSide = 4096;

struct ImageSettings {
    uint32_t width = 640;
    uint32_t height = 480;
    int quality = 60;                   // 1..100
    std::string motionjpeg = "disable"; // last "motionjpeg" value set (MJPEG: disable, MxPEG: enable)
    std::string framerate100 = "0";     // last "framerate100" value set
};

// Position in the camera's own units; each motion packet moves one step proportional to its speeds
// (speed / 2^20, so a full-speed packet moves 1023 units). Time plays no part, so pictures that show
// the position stay reproducible.
struct PtzState {
    int32_t pan = 0;     // -18000..18000
    int32_t tilt = 0;    // -9000..9000
    int32_t zoom = 1000; // 1000..10000, 1000 = wide
    int32_t panSpeed = 0;
    int32_t tiltSpeed = 0;
    int32_t zoomSpeed = 0;
    bool operator==(const PtzState&) const = default;
};

// One 24-byte rotor packet as received: "MxR" 0, version 1, command, two signed values, reserved.
struct RotorPacket {
    std::array<uint8_t, 24> raw{};
    bool valid = false;  // magic and version as expected
    uint32_t version = 0;
    uint32_t code = 0;
    int32_t value1 = 0;
    int32_t value2 = 0;
    uint32_t reserved = 0;
};

namespace rotor {
constexpr uint32_t kPanTilt = 1;
constexpr uint32_t kZoom = 3;
constexpr uint32_t kStorePreset = 5;
constexpr uint32_t kRecallPreset = 6;
constexpr uint32_t kStop = 9;
}  // namespace rotor

struct ClickCommand {
    enum class Kind { Point, ZoomRect, Zoom, Other };
    Kind kind = Kind::Other;
    int x = 0;
    int y = 0;
    int mode = 0;
    int zoom = 0;
    std::string query;
};

enum class SensorKeys {
    Letters,  // INA=1,INB=0,...
    Numbered  // SIN=1,SI2=0,...
};

// The texts the camera reports about itself. Empty strings leave the line out.
struct CameraIdentity {
    std::string typeName = "M26B";              // features__type_info_full_name
    std::string audio = "0";                    // features__audio
    std::string firmware = "MX-V5.2.6.18";      // filesystem__version
    std::string mac = "00:03:C5:0A:1B:2C";      // after "Ethernet Hardware Address" on /admin/version
    bool ptzHelp = true;                        // /control/rotorcgi?help describes the rotor interface
};

class CameraModel {
public:
    CameraModel(unsigned inputs, unsigned outputs);

    ImageSettings Image() const;
    void SetImage(const ImageSettings& settings);
    // An "ERR:" line answered to image-control set requests instead of storing them; empty: accept.
    void SetImageControlError(std::string line);
    std::string ImageControlError() const;
    // Reply to "?list&section=imagecontrol" (framerate100= and size= lines).
    void SetImageControlList(std::string text);
    std::string ImageControlList() const;
    // The display_mode value read back by "?read&section=imagecontrol&display_mode".
    void SetDisplayMode(std::string value);
    std::string DisplayMode() const;
    void SetIdentity(const CameraIdentity& identity);
    CameraIdentity Identity() const;
    void CountStoreConfig();
    unsigned StoreConfigCount() const;

    unsigned InputCount() const;
    unsigned OutputCount() const;
    // Indexes beyond the count are ignored.
    void SetInput(unsigned index, bool on);
    void SetInputs(const std::vector<bool>& states);
    std::vector<bool> Inputs() const;
    std::vector<bool> Outputs() const;
    // The request names no output: it switches the camera's signal output, output 0.
    // False when the camera has no outputs.
    bool SwitchSignalOutput(bool high);
    unsigned OutputSwitchCount() const;
    void SetSensorKeys(SensorKeys keys);
    // "SECTION SENSORS" CR LF, the input states, CR LF, "ENDSECTION SENSORS" CR LF.
    std::string SensorBlock() const;

    PtzState Ptz() const;
    void ApplyRotorPacket(const RotorPacket& packet);
    std::vector<RotorPacket> RotorPackets() const;
    // Waits until at least count packets were received since the start (or the last Clear).
    bool WaitForRotorPackets(size_t count, uint32_t timeoutMs) const;
    // Stored preset 1..256; nullopt when never stored or out of range.
    std::optional<PtzState> Preset(int number) const;

    void RecordClick(const ClickCommand& click);
    std::vector<ClickCommand> Clicks() const;
    bool WaitForClicks(size_t count, uint32_t timeoutMs) const;
    // Reply text of click.cgi requests (default "OK").
    void SetClickReply(std::string text);
    std::string ClickReply() const;

    // Forgets received commands (rotor packets, clicks, switch and store counters).
    void ClearRecords();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ImageSettings image_;
    std::string imageControlError_;
    std::string imageControlList_;
    std::string displayMode_ = "lenscorr_l11";
    CameraIdentity identity_;
    unsigned storeConfigCount_ = 0;
    std::vector<bool> inputs_;
    std::vector<bool> outputs_;
    unsigned outputSwitchCount_ = 0;
    SensorKeys sensorKeys_ = SensorKeys::Letters;
    PtzState ptz_;
    std::array<std::optional<PtzState>, kPresetCount> presets_;
    std::vector<RotorPacket> packets_;
    std::vector<ClickCommand> clicks_;
    std::string clickReply_ = "OK\r\n";
};

// Decodes a little-endian 24-byte packet; valid when it starts "MxR" 0 with version 1.
RotorPacket DecodeRotorPacket(const uint8_t* bytes);

// Cuts a body that arrives in arbitrary pieces into 24-byte packets.
class RotorPacketSplitter {
public:
    std::vector<RotorPacket> Feed(const char* data, size_t size);
    size_t Pending() const { return fill_; }

private:
    std::array<uint8_t, 24> partial_{};
    size_t fill_ = 0;
};

}  // namespace camsim
