// RGB <-> YCbCr conversions (JFIF) and plane bookkeeping of YCbCrPicture.
#include "mxpegenc/YCbCrPicture.h"

#include <algorithm>
#include <cmath>

namespace mxpegenc {
namespace {

uint8_t ClampByte(double v) {
  return static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(v)), 0, 255));
}

}  // namespace

bool YCbCrPicture::IsValid() const {
  if (width <= 0 || height <= 0) return false;
  const size_t chroma = static_cast<size_t>(ChromaWidth()) * ChromaHeight();
  return y.size() == static_cast<size_t>(width) * height && cb.size() == chroma && cr.size() == chroma;
}

YCbCrPicture YCbCrPicture::Blank(int width, int height, ChromaSampling sampling) {
  YCbCrPicture p;
  p.width = width;
  p.height = height;
  p.sampling = sampling;
  p.y.assign(static_cast<size_t>(width) * height, 128);
  p.cb.assign(static_cast<size_t>(p.ChromaWidth()) * p.ChromaHeight(), 128);
  p.cr = p.cb;
  return p;
}

YCbCrPicture YCbCrPicture::FromRgb(const uint8_t* rgb, int width, int height, int stride,
                                   ChromaSampling sampling) {
  YCbCrPicture p = Blank(width, height, sampling);
  std::vector<double> cbFull(static_cast<size_t>(width) * height), crFull(cbFull.size());
  for (int yy = 0; yy < height; ++yy) {
    const uint8_t* row = rgb + static_cast<size_t>(yy) * stride;
    for (int x = 0; x < width; ++x) {
      const double r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
      const size_t i = static_cast<size_t>(yy) * width + x;
      p.y[i] = ClampByte(0.299 * r + 0.587 * g + 0.114 * b);
      cbFull[i] = -0.168736 * r - 0.331264 * g + 0.5 * b + 128.0;
      crFull[i] = 0.5 * r - 0.418688 * g - 0.081312 * b + 128.0;
    }
  }
  const int rowsPerSample = sampling == ChromaSampling::k420 ? 2 : 1;
  const int cw = p.ChromaWidth(), ch = p.ChromaHeight();
  for (int cy = 0; cy < ch; ++cy) {
    for (int cx = 0; cx < cw; ++cx) {
      double sb = 0, sr = 0;
      for (int dy = 0; dy < rowsPerSample; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const int sx = std::min(2 * cx + dx, width - 1);
          const int sy = std::min(cy * rowsPerSample + dy, height - 1);
          sb += cbFull[static_cast<size_t>(sy) * width + sx];
          sr += crFull[static_cast<size_t>(sy) * width + sx];
        }
      }
      const double n = 2.0 * rowsPerSample;
      p.cb[static_cast<size_t>(cy) * cw + cx] = ClampByte(sb / n);
      p.cr[static_cast<size_t>(cy) * cw + cx] = ClampByte(sr / n);
    }
  }
  return p;
}

std::vector<uint8_t> YCbCrPicture::ToRgb() const {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  const int rowsPerSample = sampling == ChromaSampling::k420 ? 2 : 1;
  for (int yy = 0; yy < height; ++yy) {
    for (int x = 0; x < width; ++x) {
      const size_t c = static_cast<size_t>(yy / rowsPerSample) * ChromaWidth() + x / 2;
      const double Y = y[static_cast<size_t>(yy) * width + x], Cb = cb[c] - 128.0, Cr = cr[c] - 128.0;
      uint8_t* out = &rgb[(static_cast<size_t>(yy) * width + x) * 3];
      out[0] = ClampByte(Y + 1.402 * Cr);
      out[1] = ClampByte(Y - 0.344136 * Cb - 0.714136 * Cr);
      out[2] = ClampByte(Y + 1.772 * Cb);
    }
  }
  return rgb;
}

}  // namespace mxpegenc
