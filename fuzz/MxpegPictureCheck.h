// Picture receiver of the MxPEG fuzz targets: every picture must be framed as a JPEG (SOI first, EOI
// last) and keep within the size limit the target set; anything else stops the run as a finding.
#pragma once

#include <cstdint>
#include <vector>

#include "mxm/ISegmentedStreamReceiver.h"

namespace mxmfuzz {

class CheckingReceiver : public mxm::ISegmentedStreamReceiver {
 public:
  // keep: the pictures stay in `pictures` for further checks.
  CheckingReceiver(int32_t limit, bool keep) : limit_(limit), keep_(keep) {}
  void FrameComplete(int32_t width, int32_t height) override {
    if (picture_.size() < 4 || picture_[0] != 0xFF || picture_[1] != 0xD8 || picture_[picture_.size() - 2] != 0xFF ||
        picture_.back() != 0xD9)
      __builtin_trap();
    if (width < 1 || height < 1 || width > limit_ || height > limit_) __builtin_trap();
    if (keep_) pictures.push_back(std::move(picture_));
    picture_.clear();
  }
  void AppendSegment(const uint8_t* data, uint32_t length) override {
    if (length > 0 && data == nullptr) __builtin_trap();
    picture_.insert(picture_.end(), data, data + length);
  }

  std::vector<std::vector<uint8_t>> pictures;

 private:
  int32_t limit_;
  bool keep_;
  std::vector<uint8_t> picture_;
};

}  // namespace mxmfuzz
