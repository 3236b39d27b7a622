// Sink for the JPEG pictures that the MxPEG converter rebuilds; the MxPEG channel implements it.
#pragma once

#include <cstdint>

namespace mxm {

// Called synchronously on the parser's thread, from inside MxPEGParser::ProcessBytes.
// The receiver owns the assembled bytes; the converter keeps no pointer to them after a call returns.
class ISegmentedStreamReceiver {
 public:
  virtual ~ISegmentedStreamReceiver() = default;
  // Announces the next picture before its first segment: the segments that follow until
  // FrameComplete add up to exactly totalBytes, so a receiver can allocate the picture once and copy
  // each segment straight into it. A BeginPicture with no FrameComplete since the previous one means
  // that picture was abandoned (a segment call threw). Receivers that do not need it keep the default.
  virtual void BeginPicture(uint32_t totalBytes, int32_t width, int32_t height) {
    (void)totalBytes;
    (void)width;
    (void)height;
  }
  // The bytes appended since the previous call form one complete JPEG picture of width x height pixels.
  virtual void FrameComplete(int32_t width, int32_t height) = 0;
  // Appends the next piece of the picture being assembled; data is valid only during the call.
  virtual void AppendSegment(const uint8_t* data, uint32_t length) = 0;
};

}  // namespace mxm
