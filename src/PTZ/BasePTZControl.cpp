// PTZ API of one channel: gates, motion flags, result codes and the preset calls.
#include "PTZ/BasePTZControl.h"

#include <cstring>

namespace velmora {

namespace {
constexpr int32_t kDone = kPtzDone;
constexpr int32_t kInvalid = kPtzInvalidArgument;
constexpr int32_t kNotOpen = kPtzNotPossible;
constexpr int32_t kPresetFailed = kPtzPresetFailed;
constexpr int32_t kZoomInDirection = 8;
constexpr int32_t kZoomOutDirection = 9;
constexpr int32_t kRefusedDirection = 10;
}  // namespace

CBasePTZControl::CBasePTZControl(IDriver* driver, int32_t channel)
    : driver_(driver), channel_(channel), prepositions_(channel) {}

CBasePTZControl::~CBasePTZControl() { CBasePTZControl::Close(); }

void CBasePTZControl::Close() {
    if (!comm_) return;
    // The list must not keep calling a deleted command object.
    prepositions_.SetComm(nullptr);
    comm_->Close();
    delete comm_;
    comm_ = nullptr;
}

bool CBasePTZControl::Open(TSmartPtr<CXMLPrepositionReader> storage) {
    Close();  // a second Open must not leak the first command object
    comm_ = CreateComm();
    if (comm_ && comm_->Open() && storage) {
        prepositions_.SetComm(comm_);
        prepositions_.SetCapacity(comm_->Capabilities().presetCount);
        prepositions_.SetStorage(storage);
        return true;
    }
    Close();
    return false;
}

int32_t CBasePTZControl::IsDome() {
    if (!comm_) return kNotOpen;
    return comm_->IsDome() ? 1 : 0;
}

int32_t CBasePTZControl::Move(int32_t direction, int32_t speed) {
    if (!comm_) return kNotOpen;
    if (direction == kRefusedDirection) return kInvalid;
    const int32_t result = comm_->StartMove(this, direction, speed);
    if (result == kDone) {
        prepositions_.ClearCurrent();
        if (direction == kZoomInDirection || direction == kZoomOutDirection) {
            zooming_ = true;
        } else {
            moving_ = true;
        }
    }
    return result;
}

bool CBasePTZControl::PostStop(std::atomic<bool>& flag, bool (CBasePTZComm::*post)(IIPParams*)) {
    if (!flag) return true;
    // A flag stays set when its stop could not be posted, so the next Stop tries again.
    if (!(comm_->*post)(this)) return false;
    flag = false;
    return true;
}

int32_t CBasePTZControl::Stop() {
    if (!comm_) return kNotOpen;
    bool allPosted = PostStop(moving_, &CBasePTZComm::StopMoving);
    allPosted = PostStop(zooming_, &CBasePTZComm::StopZooming) && allPosted;
    allPosted = PostStop(irisChanging_, &CBasePTZComm::StopIrisChanging) && allPosted;
    allPosted = PostStop(focusing_, &CBasePTZComm::StopFocusing) && allPosted;
    return allPosted ? kDone : kNotOpen;
}

int32_t CBasePTZControl::Center(int32_t x, int32_t y, int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->Center(this, x, y, speed);
    if (result == kDone) prepositions_.ClearCurrent();
    return result;
}

int32_t CBasePTZControl::StartZoom(int32_t direction, int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->StartMove(this, direction, speed);
    if (result == kDone) {
        zooming_ = true;
        prepositions_.ClearCurrent();
    }
    return result;
}

int32_t CBasePTZControl::ZoomPlus(int32_t speed) { return StartZoom(kZoomInDirection, speed); }

int32_t CBasePTZControl::ZoomMinus(int32_t speed) { return StartZoom(kZoomOutDirection, speed); }

int32_t CBasePTZControl::Unzoom(int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->Unzoom(this, speed);
    if (result == kDone) prepositions_.ClearCurrent();
    return result;
}

int32_t CBasePTZControl::AreaZoom(int32_t x, int32_t y, int32_t zoom, int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->AreaZoom(this, x, y, zoom, speed);
    if (result == kDone) prepositions_.ClearCurrent();
    return result;
}

int32_t CBasePTZControl::FocusPlus(int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->StartFocus(this, true, speed);
    if (result == kDone) {
        focusing_ = true;
        prepositions_.ClearCurrent();
    }
    return result;
}

int32_t CBasePTZControl::FocusMinus(int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->StartFocus(this, false, speed);
    if (result == kDone) {
        focusing_ = true;
        prepositions_.ClearCurrent();
    }
    return result;
}

int32_t CBasePTZControl::IrisPlus(int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->StartIris(this, true, speed);
    if (result == kDone) {
        irisChanging_ = true;
        prepositions_.ClearCurrent();
    }
    return result;
}

int32_t CBasePTZControl::IrisMinus(int32_t speed) {
    if (!comm_) return kNotOpen;
    const int32_t result = comm_->StartIris(this, false, speed);
    if (result == kDone) {
        irisChanging_ = true;
        prepositions_.ClearCurrent();
    }
    return result;
}

int32_t CBasePTZControl::GetCapabilities(PTZ_CAPABILITIES* record) {
    if (!comm_) return kNotOpen;
    if (!record) return kInvalid;
    const int32_t result = comm_->GetCapabilities(record);
    if (result == kDone) {
        record->presetCapacity = static_cast<int32_t>(prepositions_.GetCapacity());
        record->presetCount = prepositions_.GetCount();
    }
    return result;
}

int32_t CBasePTZControl::GetPrepositionCount() { return prepositions_.GetCount(); }

int32_t CBasePTZControl::CopyName(const std::string& name, char* buffer, uint32_t size) {
    if (!buffer || name.size() >= size) return kInvalid;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return kDone;
}

int32_t CBasePTZControl::GetPrepositionName(int32_t index, char* buffer, uint32_t size) {
    std::string name;
    if (!prepositions_.GetName(index, name)) return kPresetFailed;
    return CopyName(name, buffer, size);
}

int32_t CBasePTZControl::GotoPreposition(int32_t speed, const char* name) {
    if (!name) return kInvalid;
    return prepositions_.GotoPreposition(name, speed) ? kDone : kPresetFailed;
}

int32_t CBasePTZControl::AddPreposition(const char* name) {
    if (!name) return kInvalid;
    return prepositions_.AddPreposition(name);
}

int32_t CBasePTZControl::RemovePreposition(const char* name) {
    if (!name) return kInvalid;
    return prepositions_.RemovePreposition(name) ? kDone : kPresetFailed;
}

int32_t CBasePTZControl::GetCurrentPrepositionName(char* buffer, uint32_t size) {
    std::string name;
    if (!prepositions_.GetCurrentPrepositionName(name)) return kPresetFailed;
    return CopyName(name, buffer, size);
}

bool CBasePTZControl::IsOptionSupported(int32_t value) { return value == 1; }

}  // namespace velmora
