// Per-frame reset of the MxPEG frame descriptor.
#include "mxm/mxmUndecodedMxPEGFrameDescriptor.h"

namespace mxm {

mxmUndecodedMxPEGFrameDescriptor::~mxmUndecodedMxPEGFrameDescriptor() { ClearFrameFields(); }

void mxmUndecodedMxPEGFrameDescriptor::ClearFrameFields() {
  scanData = nullptr;
  scanLength = 0;
  tileMap = nullptr;
  frameData = nullptr;
  frameLength = 0;
  mxfValueA = mxfValueB = mxfValueC = 0;
  mxfPairValid = false;
  mxfValueCValid = false;
  restartInterval = 0;  // each frame is an image of its own: no DRI, no restart interval
}

}  // namespace mxm
