// Description of one complete MxPEG frame as the parser found it in its input buffer.
#pragma once

#include <cstdint>

namespace mxm {

struct mxmComponentRecord {
  int32_t hSampling = 0;  // 0..16
  int32_t vSampling = 0;  // 0..16
  int32_t quantTable = 0; // 0..3
  int32_t dcTable = 0;    // 0..3
  int32_t acTable = 0;    // 0..3
};

// The pointers point into the parser's input buffer and stay valid until the next frame starts.
// Size, tile counts, components and sampling carry over from frame to frame; the rest is per frame.
class mxmUndecodedMxPEGFrameDescriptor {
 public:
  mxmUndecodedMxPEGFrameDescriptor() = default;
  virtual ~mxmUndecodedMxPEGFrameDescriptor();

  // Clears the per-frame fields (pointers, lengths, MXF values, restart interval); keeps size and
  // components.
  void ClearFrameFields();

  int32_t width = 640;
  int32_t height = 480;
  int32_t tileColumns = 40;
  int32_t tileRows = 30;
  const uint8_t* scanData = nullptr;  // first entropy-coded byte, just after the SOS segment
  uint32_t scanLength = 0;            // from scanData up to and including the EOI marker
  const uint8_t* tileMap = nullptr;   // "MXM" bit map, most significant bit first; null: all tiles sent
  const uint8_t* frameData = nullptr; // the frame's SOI marker
  uint32_t frameLength = 0;           // from the SOI marker up to and including the EOI marker
  uint32_t mxfValueA = 0;
  uint32_t mxfValueB = 0;
  bool mxfPairValid = false;
  uint32_t mxfValueC = 0;
  bool mxfValueCValid = false;
  uint32_t componentCount = 0;        // 0..3
  mxmComponentRecord components[3];
  int32_t nonStandardSampling = 0;    // 0: YCbCr 4:2:0, 1: anything else
  uint32_t restartInterval = 0;       // units per restart interval from this frame's DRI; 0: none
};

}  // namespace mxm
