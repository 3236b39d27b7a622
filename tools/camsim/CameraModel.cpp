// Camera state, rotor packet decoding and the effect of rotor commands on the PTZ position.
#include "camsim/CameraModel.h"

#include <algorithm>
#include <chrono>

namespace camsim {

namespace {

constexpr int32_t kPanLimit = 18000;
constexpr int32_t kTiltLimit = 9000;
constexpr int32_t kZoomWide = 1000;
constexpr int32_t kZoomTele = 10000;
constexpr int kSpeedShift = 20;  // speed / 2^20: full speed (0x3FFFFFFF) moves 1023 units per packet

const char kDefaultImageControlList[] =
    "framerate100=100,200,400,500,800,1000,1250,1500,2000,2500,3000\r\n"
    "size=QVGA#320x240,VGA#640x480,PAL#704x576,XGA#1024x768,MEGA#1280x960,QXGA#2048x1536\r\n";

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int32_t Step(int32_t speed) { return speed / (int32_t(1) << kSpeedShift); }

int32_t Clamp(int64_t v, int32_t lo, int32_t hi) { return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi)); }

}  // namespace

RotorPacket DecodeRotorPacket(const uint8_t* bytes) {
    RotorPacket p;
    std::copy(bytes, bytes + 24, p.raw.begin());
    p.version = Le32(bytes + 4);
    p.code = Le32(bytes + 8);
    p.value1 = static_cast<int32_t>(Le32(bytes + 12));
    p.value2 = static_cast<int32_t>(Le32(bytes + 16));
    p.reserved = Le32(bytes + 20);
    p.valid = bytes[0] == 'M' && bytes[1] == 'x' && bytes[2] == 'R' && bytes[3] == 0 && p.version == 1;
    return p;
}

std::vector<RotorPacket> RotorPacketSplitter::Feed(const char* data, size_t size) {
    std::vector<RotorPacket> out;
    for (size_t i = 0; i < size;) {
        size_t take = std::min(size - i, partial_.size() - fill_);
        std::copy(data + i, data + i + take, partial_.begin() + static_cast<long>(fill_));
        fill_ += take;
        i += take;
        if (fill_ == partial_.size()) {
            out.push_back(DecodeRotorPacket(partial_.data()));
            fill_ = 0;
        }
    }
    return out;
}

CameraModel::CameraModel(unsigned inputs, unsigned outputs)
    : imageControlList_(kDefaultImageControlList),
      inputs_(std::min(inputs, kMaxInputs), false),
      outputs_(std::min(outputs, kMaxOutputs), false) {}

ImageSettings CameraModel::Image() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return image_;
}

void CameraModel::SetImage(const ImageSettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    image_ = settings;
    image_.width = std::clamp(image_.width, kMinPictureSide, kMaxPictureSide);
    image_.height = std::clamp(image_.height, kMinPictureSide, kMaxPictureSide);
    image_.quality = std::clamp(image_.quality, 1, 100);
}

void CameraModel::SetImageControlError(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    imageControlError_ = std::move(line);
}

std::string CameraModel::ImageControlError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return imageControlError_;
}

void CameraModel::SetImageControlList(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    imageControlList_ = std::move(text);
}

std::string CameraModel::ImageControlList() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return imageControlList_;
}

void CameraModel::SetDisplayMode(std::string value) {
    std::lock_guard<std::mutex> lock(mutex_);
    displayMode_ = std::move(value);
}

std::string CameraModel::DisplayMode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return displayMode_;
}

void CameraModel::SetIdentity(const CameraIdentity& identity) {
    std::lock_guard<std::mutex> lock(mutex_);
    identity_ = identity;
}

CameraIdentity CameraModel::Identity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return identity_;
}

void CameraModel::CountStoreConfig() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++storeConfigCount_;
}

unsigned CameraModel::StoreConfigCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return storeConfigCount_;
}

unsigned CameraModel::InputCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<unsigned>(inputs_.size());
}

unsigned CameraModel::OutputCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<unsigned>(outputs_.size());
}

void CameraModel::SetInput(unsigned index, bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < inputs_.size()) inputs_[index] = on;
}

void CameraModel::SetInputs(const std::vector<bool>& states) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < inputs_.size() && i < states.size(); ++i) inputs_[i] = states[i];
}

std::vector<bool> CameraModel::Inputs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inputs_;
}

std::vector<bool> CameraModel::Outputs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outputs_;
}

bool CameraModel::SwitchSignalOutput(bool high) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (outputs_.empty()) return false;
    outputs_[0] = high;
    ++outputSwitchCount_;
    changed_.notify_all();
    return true;
}

unsigned CameraModel::OutputSwitchCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outputSwitchCount_;
}

void CameraModel::SetSensorKeys(SensorKeys keys) {
    std::lock_guard<std::mutex> lock(mutex_);
    sensorKeys_ = keys;
}

std::string CameraModel::SensorBlock() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = "SECTION SENSORS\r\n";
    for (size_t i = 0; i < inputs_.size(); ++i) {
        if (i) text += ',';
        if (sensorKeys_ == SensorKeys::Letters) text += "IN" + std::string(1, static_cast<char>('A' + i));
        else text += i == 0 ? std::string("SIN") : "SI" + std::to_string(i + 1);
        text += inputs_[i] ? "=1" : "=0";
    }
    if (!inputs_.empty()) text += "\r\n";
    text += "ENDSECTION SENSORS\r\n";
    return text;
}

PtzState CameraModel::Ptz() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ptz_;
}

void CameraModel::ApplyRotorPacket(const RotorPacket& packet) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (packets_.size() < kMaxRecordedCommands) packets_.push_back(packet);
    changed_.notify_all();
    if (!packet.valid) return;
    switch (packet.code) {
        case rotor::kPanTilt:
            ptz_.panSpeed = packet.value1;
            ptz_.tiltSpeed = packet.value2;
            ptz_.pan = Clamp(int64_t(ptz_.pan) + Step(packet.value1), -kPanLimit, kPanLimit);
            ptz_.tilt = Clamp(int64_t(ptz_.tilt) + Step(packet.value2), -kTiltLimit, kTiltLimit);
            break;
        case rotor::kZoom:
            ptz_.zoomSpeed = packet.value1;
            ptz_.zoom = Clamp(int64_t(ptz_.zoom) + Step(packet.value1), kZoomWide, kZoomTele);
            break;
        case rotor::kStorePreset:
            if (packet.value1 >= 1 && packet.value1 <= kPresetCount) {
                PtzState stored = ptz_;
                stored.panSpeed = stored.tiltSpeed = stored.zoomSpeed = 0;
                presets_[static_cast<size_t>(packet.value1 - 1)] = stored;
            }
            break;
        case rotor::kRecallPreset:
            if (packet.value1 >= 1 && packet.value1 <= kPresetCount && presets_[static_cast<size_t>(packet.value1 - 1)])
                ptz_ = *presets_[static_cast<size_t>(packet.value1 - 1)];
            break;
        case rotor::kStop:
            ptz_.panSpeed = ptz_.tiltSpeed = ptz_.zoomSpeed = 0;
            break;
        default:
            break;
    }
}

std::vector<RotorPacket> CameraModel::RotorPackets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_;
}

bool CameraModel::WaitForRotorPackets(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return packets_.size() >= count; });
}

std::optional<PtzState> CameraModel::Preset(int number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 1 || number > kPresetCount) return std::nullopt;
    return presets_[static_cast<size_t>(number - 1)];
}

void CameraModel::RecordClick(const ClickCommand& click) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clicks_.size() < kMaxRecordedCommands) clicks_.push_back(click);
    if (click.kind == ClickCommand::Kind::Zoom) ptz_.zoom = Clamp(click.zoom, kZoomWide, kZoomTele);
    changed_.notify_all();
}

std::vector<ClickCommand> CameraModel::Clicks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clicks_;
}

bool CameraModel::WaitForClicks(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return clicks_.size() >= count; });
}

void CameraModel::SetClickReply(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    clickReply_ = std::move(text);
}

std::string CameraModel::ClickReply() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clickReply_;
}

void CameraModel::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    packets_.clear();
    clicks_.clear();
    outputSwitchCount_ = 0;
    storeConfigCount_ = 0;
}

}  // namespace camsim
