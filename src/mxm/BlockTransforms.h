// The 8x8 transforms of the 4:2:2 chroma conversion: the Chen-Wang fast integer inverse DCT (as in
// the MPEG-2 reference decoder) and the single-precision forward DCT of T.81 A.3.3.
#pragma once

#include <cstdint>

namespace mxm {

// In place, natural order (row-major, row = vertical frequency). Input: dequantised coefficients.
// Output: level-shifted samples, each limited to -256..255 whatever the input.
void InverseDctChenWang(int16_t* block);

// In place: samples (level-shifted) to coefficients, rows first, each result truncated toward zero.
void ForwardDctFloat(int16_t* block);

// The value i limited to -256..255; the clip table of the inverse DCT's column pass.
inline int ClipIdct(int64_t i) { return i < -256 ? -256 : (i > 255 ? 255 : static_cast<int>(i)); }

}  // namespace mxm
