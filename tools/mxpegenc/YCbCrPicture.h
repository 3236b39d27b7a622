// A picture as the MxPEG encoder takes it: 8-bit Y, Cb, Cr planes, chroma halved horizontally and
// (for 4:2:0) vertically, plus the RGB <-> YCbCr conversions of JFIF.
#pragma once

#include <cstdint>
#include <vector>

namespace mxpegenc {

enum class ChromaSampling {
  k420,  // chroma planes (width+1)/2 x (height+1)/2
  k422   // chroma planes (width+1)/2 x height
};

struct YCbCrPicture {
  int width = 0;
  int height = 0;
  ChromaSampling sampling = ChromaSampling::k420;
  std::vector<uint8_t> y;   // width x height, row-major, no padding
  std::vector<uint8_t> cb;  // ChromaWidth() x ChromaHeight()
  std::vector<uint8_t> cr;

  int ChromaWidth() const { return (width + 1) / 2; }
  int ChromaHeight() const { return sampling == ChromaSampling::k420 ? (height + 1) / 2 : height; }
  // True when every plane has the size the dimensions call for and the size is positive.
  bool IsValid() const;

  // Sized, mid-grey picture.
  static YCbCrPicture Blank(int width, int height, ChromaSampling sampling = ChromaSampling::k420);
  // JFIF conversion of packed RGB (3 bytes per pixel, rows of `stride` bytes); chroma is the rounded
  // mean of each 2x2 (4:2:0) or 2x1 (4:2:2) group, edge pixels repeated.
  static YCbCrPicture FromRgb(const uint8_t* rgb, int width, int height, int stride,
                              ChromaSampling sampling = ChromaSampling::k420);
  // Packed RGB of this picture, chroma taken from the nearest sample (no interpolation).
  std::vector<uint8_t> ToRgb() const;
};

}  // namespace mxpegenc
