// Camera-like synthetic pictures for the simulator and the tests: a textured background, moving
// shapes and a frame counter. Deterministic: the picture depends only on (seed, frame index, size).
#pragma once

#include <cstdint>

#include "mxpegenc/YCbCrPicture.h"

namespace mxpegenc {

struct SceneOptions {
  int movingShapes = 3;     // shapes that move between frames; the rest of the picture stays still
  bool drawCounter = true;  // frame index in 8x8-pixel digits at the top left
  int noiseAmplitude = 6;   // fixed-pattern sensor texture, +-amplitude on every sample (0: none)
};

class SyntheticScene {
 public:
  explicit SyntheticScene(uint32_t seed, const SceneOptions& options = {}) : seed_(seed), options_(options) {}

  // Packed RGB, 3 bytes per pixel, width * 3 bytes per row.
  std::vector<uint8_t> RenderRgb(uint32_t frameIndex, int width, int height) const;
  YCbCrPicture Render(uint32_t frameIndex, int width, int height,
                      ChromaSampling sampling = ChromaSampling::k420) const;

 private:
  uint32_t seed_;
  SceneOptions options_;
};

}  // namespace mxpegenc
