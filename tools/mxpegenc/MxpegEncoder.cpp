// MxPEG encoder: per-tile forward DCT and quantisation, change detection against the previous picture,
// frame segments and the entropy-coded scan of the sent tiles.
#include "mxpegenc/MxpegEncoder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

#include "mxpegenc/BitSink.h"
#include "mxpegenc/HuffmanBuilder.h"

namespace mxpegenc {
namespace {

// Natural (row-major) index of the k-th coefficient in zig-zag order (T.81 Figure A.6).
constexpr std::array<uint8_t, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Baseline limits for quantised values: they keep every DC difference within size 11 and every
// AC value within size 10, so the standard tables can code them.
constexpr int kMaxCoefficient = 1023;
// The "MXM" tile map must fit in one comment segment: 65533 payload bytes less the 12-byte header.
constexpr int kMaxTiles = (65533 - 12) * 8;

struct LibjpegErrorExit {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void OnLibjpegError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<LibjpegErrorExit*>(cinfo->err)->jump, 1);
}

// Annex K tables as libjpeg's defaults give them: quantisation scaled by quality, typical Huffman tables.
struct LibjpegDefaults {
  std::array<std::array<uint16_t, 64>, 2> quant{};
  std::array<std::vector<uint8_t>, 4> huffman;
};

LibjpegDefaults ReadLibjpegDefaults(int quality) {
  LibjpegDefaults d;
  jpeg_compress_struct cinfo{};
  LibjpegErrorExit err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = OnLibjpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    throw std::runtime_error("libjpeg failed to build default tables");
  }
  jpeg_create_compress(&cinfo);
  cinfo.in_color_space = JCS_YCbCr;
  cinfo.input_components = 3;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < 64; ++i) d.quant[t][i] = static_cast<uint16_t>(cinfo.quant_tbl_ptrs[t]->quantval[i]);
  const JHUFF_TBL* tables[4] = {cinfo.dc_huff_tbl_ptrs[0], cinfo.ac_huff_tbl_ptrs[0], cinfo.dc_huff_tbl_ptrs[1],
                                cinfo.ac_huff_tbl_ptrs[1]};
  for (int t = 0; t < 4; ++t) {
    int count = 0;
    for (int l = 1; l <= 16; ++l) {
      d.huffman[t].push_back(tables[t]->bits[l]);
      count += tables[t]->bits[l];
    }
    d.huffman[t].insert(d.huffman[t].end(), tables[t]->huffval, tables[t]->huffval + count);
  }
  jpeg_destroy_compress(&cinfo);
  return d;
}

// Forward DCT of T.81 A.3.3 in double precision, then rounding quantisation.
void ForwardDctQuantise(const int (&samples)[64], const std::array<uint16_t, 64>& quant, int16_t* out) {
  static const auto kCos = [] {
    std::array<double, 64> c{};
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        c[u * 8 + x] = (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * std::numbers::pi / 16.0) / 2.0;
    return c;
  }();
  double rows[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += kCos[u * 8 + x] * (samples[y * 8 + x] - 128);
      rows[y * 8 + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += kCos[v * 8 + y] * rows[y * 8 + u];
      const long q = std::lround(s / quant[v * 8 + u]);
      out[v * 8 + u] = static_cast<int16_t>(std::clamp<long>(q, -kMaxCoefficient, kMaxCoefficient));
    }
}

// Sample (x, y) of a plane, edges repeated beyond the picture.
inline int At(const std::vector<uint8_t>& plane, int w, int h, int x, int y) {
  return plane[static_cast<size_t>(std::min(y, h - 1)) * w + std::min(x, w - 1)];
}

void Put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutLe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A marker with `fill` 0xFF fill bytes before it (T.81 B.1.1.2 allows any number).
void PutMarker(std::vector<uint8_t>& out, uint8_t marker, int fill) {
  out.insert(out.end(), static_cast<size_t>(std::max(fill, 0)), 0xFF);
  out.push_back(0xFF);
  out.push_back(marker);
}

void PutSegment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& payload, int fill = 0) {
  out.insert(out.end(), static_cast<size_t>(std::max(fill, 0)), 0xFF);
  out.push_back(0xFF);
  out.push_back(marker);
  Put16(out, static_cast<unsigned>(payload.size() + 2));
  out.insert(out.end(), payload.begin(), payload.end());
}

// 4:2:0 form of a picture (4:2:2 chroma rows averaged in pairs).
YCbCrPicture To420(const YCbCrPicture& p) {
  if (p.sampling == ChromaSampling::k420) return p;
  YCbCrPicture q = YCbCrPicture::Blank(p.width, p.height, ChromaSampling::k420);
  q.y = p.y;
  const int cw = p.ChromaWidth();
  for (int cy = 0; cy < q.ChromaHeight(); ++cy)
    for (int cx = 0; cx < cw; ++cx) {
      const int a = 2 * cy, b = std::min(2 * cy + 1, p.height - 1);
      q.cb[static_cast<size_t>(cy) * cw + cx] = static_cast<uint8_t>((p.cb[a * cw + cx] + p.cb[b * cw + cx] + 1) / 2);
      q.cr[static_cast<size_t>(cy) * cw + cx] = static_cast<uint8_t>((p.cr[a * cw + cx] + p.cr[b * cw + cx] + 1) / 2);
    }
  return q;
}

// 4:2:2 form of a picture (4:2:0 chroma rows repeated).
YCbCrPicture To422(const YCbCrPicture& p) {
  if (p.sampling == ChromaSampling::k422) return p;
  YCbCrPicture q = YCbCrPicture::Blank(p.width, p.height, ChromaSampling::k422);
  q.y = p.y;
  const int cw = p.ChromaWidth();
  for (int y = 0; y < p.height; ++y)
    for (int cx = 0; cx < cw; ++cx) {
      q.cb[static_cast<size_t>(y) * cw + cx] = p.cb[static_cast<size_t>(y / 2) * cw + cx];
      q.cr[static_cast<size_t>(y) * cw + cx] = p.cr[static_cast<size_t>(y / 2) * cw + cx];
    }
  return q;
}

}  // namespace

MxpegEncoder::MxpegEncoder(const EncoderOptions& options) : options_(options) {
  options_.quality = std::clamp(options_.quality, 1, 100);
  options_.restartInterval = std::clamp(options_.restartInterval, 0, 65535);  // the DRI field's range
  BuildQuantTables();
  UseStandardHuffman();
}

void MxpegEncoder::SetQuality(int quality) {
  quality = std::clamp(quality, 1, 100);
  if (quality == options_.quality) return;
  options_.quality = quality;
  BuildQuantTables();
  forceFull_ = true;
}

void MxpegEncoder::BuildQuantTables() {
  quant_ = ReadLibjpegDefaults(options_.quality).quant;
  quantChanged_ = true;
}

void MxpegEncoder::UseStandardHuffman() {
  const LibjpegDefaults d = ReadLibjpegDefaults(options_.quality);
  for (int t = 0; t < 4; ++t) {
    if (huffmanSpec_[t] != d.huffman[t]) huffmanChanged_ = true;
    huffmanSpec_[t] = d.huffman[t];
    BuildCodeTable(huffmanSpec_[t], codes_[t].code.data(), codes_[t].length.data());
  }
}

void MxpegEncoder::BuildCustomHuffman(const std::vector<uint8_t>& sentTiles) {
  std::array<std::array<uint32_t, 256>, 4> freq{};
  int pred[3] = {0, 0, 0};
  for (int t = 0; t < tileColumns_ * tileRows_; ++t) {
    if (!sentTiles[t]) continue;
    const int16_t* tile = &coefficients_[static_cast<size_t>(t) * kCoefficientsPerTile];
    for (int b = 0; b < kBlocksPerTile; ++b) {
      const int set = b < 4 ? 0 : 2;
      CountBlockSymbols(tile + b * 64, pred[b < 4 ? 0 : b - 3], kZigZag.data(), freq[set].data(),
                        freq[set + 1].data());
    }
  }
  for (int t = 0; t < 4; ++t) {
    // Every symbol counts at least once so later partial frames can code anything with these tables.
    const int symbols = (t % 2 == 0) ? 12 : 256;
    for (int s = 0; s < symbols; ++s) {
      const bool usable = (t % 2 == 0) || (s == 0x00 || s == 0xF0 || ((s & 15) >= 1 && (s & 15) <= 10));
      if (usable) freq[t][s] += 1;
    }
    std::vector<uint8_t> spec = BuildOptimalTable(freq[t].data());
    if (spec != huffmanSpec_[t]) huffmanChanged_ = true;
    huffmanSpec_[t] = std::move(spec);
    BuildCodeTable(huffmanSpec_[t], codes_[t].code.data(), codes_[t].length.data());
  }
}

bool MxpegEncoder::PrepareGeometry(const YCbCrPicture& picture) {
  if (picture.width == width_ && picture.height == height_) return false;
  width_ = picture.width;
  height_ = picture.height;
  tileColumns_ = (width_ + 15) / 16;
  tileRows_ = (height_ + 15) / 16;
  coefficients_.assign(static_cast<size_t>(tileColumns_) * tileRows_ * kCoefficientsPerTile, 0);
  previous_ = YCbCrPicture{};
  return true;
}

void MxpegEncoder::ComputeTile(int tile, const YCbCrPicture& p, std::array<int16_t, kCoefficientsPerTile>& out) const {
  const int tx = tile % tileColumns_, ty = tile / tileColumns_;
  int samples[64];
  for (int b = 0; b < 4; ++b) {
    const int x0 = tx * 16 + (b & 1) * 8, y0 = ty * 16 + (b >> 1) * 8;
    for (int i = 0; i < 64; ++i) samples[i] = At(p.y, p.width, p.height, x0 + i % 8, y0 + i / 8);
    ForwardDctQuantise(samples, quant_[0], &out[b * 64]);
  }
  const int cw = p.ChromaWidth(), ch = p.ChromaHeight();
  for (int c = 0; c < 2; ++c) {
    const std::vector<uint8_t>& plane = c == 0 ? p.cb : p.cr;
    for (int i = 0; i < 64; ++i) samples[i] = At(plane, cw, ch, tx * 8 + i % 8, ty * 8 + i / 8);
    ForwardDctQuantise(samples, quant_[1], &out[(4 + c) * 64]);
  }
}

std::vector<uint8_t> MxpegEncoder::ChangedTiles(const YCbCrPicture& p) const {
  std::vector<uint8_t> changed(static_cast<size_t>(tileColumns_) * tileRows_, 1);
  if (!previous_.IsValid()) return changed;
  const int threshold = options_.changeThreshold;
  const int cw = p.ChromaWidth(), ch = p.ChromaHeight();
  for (int ty = 0; ty < tileRows_; ++ty)
    for (int tx = 0; tx < tileColumns_; ++tx) {
      bool differs = false;
      for (int y = ty * 16; y < std::min(ty * 16 + 16, p.height) && !differs; ++y)
        for (int x = tx * 16; x < std::min(tx * 16 + 16, p.width) && !differs; ++x) {
          const size_t i = static_cast<size_t>(y) * p.width + x;
          differs = std::abs(p.y[i] - previous_.y[i]) > threshold;
        }
      for (int y = ty * 8; y < std::min(ty * 8 + 8, ch) && !differs; ++y)
        for (int x = tx * 8; x < std::min(tx * 8 + 8, cw) && !differs; ++x) {
          const size_t i = static_cast<size_t>(y) * cw + x;
          differs = std::abs(p.cb[i] - previous_.cb[i]) > threshold || std::abs(p.cr[i] - previous_.cr[i]) > threshold;
        }
      changed[static_cast<size_t>(ty) * tileColumns_ + tx] = differs;
    }
  return changed;
}

namespace {

// Restart markers of a scan: after every `interval` coded units, when more units follow, the bits are
// padded to a byte boundary, RSTn follows (n counting 0..7) and the DC predictors start again at 0.
class Restarts {
 public:
  Restarts(int interval, int fill, int units) : interval_(interval), fill_(fill), units_(units) {}
  void AfterUnit(BitSink& sink, std::vector<uint8_t>& out, int (&pred)[3]) {
    ++coded_;
    if (interval_ <= 0 || coded_ % interval_ != 0 || coded_ >= units_) return;
    sink.Flush();
    PutMarker(out, static_cast<uint8_t>(0xD0 + (markers_++ & 7)), fill_);
    pred[0] = pred[1] = pred[2] = 0;
  }

 private:
  int interval_;
  int fill_;
  int units_;
  int coded_ = 0;
  int markers_ = 0;
};

}  // namespace

void MxpegEncoder::WriteScan420(std::vector<uint8_t>& out, const std::vector<uint8_t>& sentTiles) const {
  BitSink sink(out);
  int pred[3] = {0, 0, 0};
  Restarts restarts(options_.restartInterval, options_.fillBytes,
                    static_cast<int>(std::count(sentTiles.begin(), sentTiles.end(), 1)));
  for (size_t t = 0; t < sentTiles.size(); ++t) {
    if (!sentTiles[t]) continue;
    const int16_t* tile = &coefficients_[t * kCoefficientsPerTile];
    for (int b = 0; b < kBlocksPerTile; ++b) {
      const int component = b < 4 ? 0 : b - 3;
      const int set = b < 4 ? 0 : 2;
      EncodeBlock(sink, tile + b * 64, pred[component], kZigZag.data(), codes_[set].code.data(),
                  codes_[set].length.data(), codes_[set + 1].code.data(), codes_[set + 1].length.data());
    }
    restarts.AfterUnit(sink, out, pred);
  }
  sink.Flush();
}

void MxpegEncoder::WriteScan422(std::vector<uint8_t>& out, const YCbCrPicture& p422) const {
  BitSink sink(out);
  int pred[3] = {0, 0, 0};
  int samples[64];
  int16_t block[64];
  const int cw = p422.ChromaWidth(), ch = p422.ChromaHeight();
  const int unitRows = options_.unitRowsByHeight ? (height_ + 7) / 8 : tileRows_ * 2;
  Restarts restarts(options_.restartInterval, options_.fillBytes, unitRows * tileColumns_);
  for (int uy = 0; uy < unitRows; ++uy)
    for (int ux = 0; ux < tileColumns_; ++ux) {
      const int16_t* tile = &coefficients_[(static_cast<size_t>(uy / 2) * tileColumns_ + ux) * kCoefficientsPerTile];
      // The luminance blocks of a 16x8 unit are the top or bottom pair of the tile's 4:2:0 blocks.
      for (int b = 0; b < 2; ++b)
        EncodeBlock(sink, tile + ((uy % 2) * 2 + b) * 64, pred[0], kZigZag.data(), codes_[0].code.data(),
                    codes_[0].length.data(), codes_[1].code.data(), codes_[1].length.data());
      for (int c = 0; c < 2; ++c) {
        const std::vector<uint8_t>& plane = c == 0 ? p422.cb : p422.cr;
        for (int i = 0; i < 64; ++i) samples[i] = At(plane, cw, ch, ux * 8 + i % 8, uy * 8 + i / 8);
        ForwardDctQuantise(samples, quant_[1], block);
        EncodeBlock(sink, block, pred[1 + c], kZigZag.data(), codes_[2].code.data(), codes_[2].length.data(),
                    codes_[3].code.data(), codes_[3].length.data());
      }
      restarts.AfterUnit(sink, out, pred);
    }
  sink.Flush();
}

// 8x8 units of one luminance block (the tile's own) and one Cb and one Cr block at full resolution.
void MxpegEncoder::WriteScan444(std::vector<uint8_t>& out, const YCbCrPicture& p420) const {
  BitSink sink(out);
  int pred[3] = {0, 0, 0};
  int samples[64];
  int16_t block[64];
  const int cw = p420.ChromaWidth(), ch = p420.ChromaHeight();
  const int unitColumns = (width_ + 7) / 8, unitRows = (height_ + 7) / 8;
  Restarts restarts(options_.restartInterval, options_.fillBytes, unitRows * unitColumns);
  for (int uy = 0; uy < unitRows; ++uy)
    for (int ux = 0; ux < unitColumns; ++ux) {
      const int16_t* tile = &coefficients_[(static_cast<size_t>(uy / 2) * tileColumns_ + ux / 2) * kCoefficientsPerTile];
      EncodeBlock(sink, tile + ((uy % 2) * 2 + ux % 2) * 64, pred[0], kZigZag.data(), codes_[0].code.data(),
                  codes_[0].length.data(), codes_[1].code.data(), codes_[1].length.data());
      for (int c = 0; c < 2; ++c) {
        const std::vector<uint8_t>& plane = c == 0 ? p420.cb : p420.cr;
        for (int i = 0; i < 64; ++i) samples[i] = At(plane, cw, ch, (ux * 8 + i % 8) / 2, (uy * 8 + i / 8) / 2);
        ForwardDctQuantise(samples, quant_[1], block);
        EncodeBlock(sink, block, pred[1 + c], kZigZag.data(), codes_[2].code.data(), codes_[2].length.data(),
                    codes_[3].code.data(), codes_[3].length.data());
      }
      restarts.AfterUnit(sink, out, pred);
    }
  sink.Flush();
}

std::vector<uint8_t> MxpegEncoder::EncodeFrame(const YCbCrPicture& input, const std::string& sensorText,
                                               uint64_t timestampUs) {
  if (!input.IsValid() || input.width > 65535 || input.height > 65535)
    throw std::invalid_argument("MxpegEncoder: picture planes do not match its size");
  const YCbCrPicture picture = To420(input);
  const bool resized = PrepareGeometry(picture);
  const int tiles = tileColumns_ * tileRows_;
  if (tiles > kMaxTiles) throw std::invalid_argument("MxpegEncoder: tile map would not fit in one segment");
  const bool full = forceFull_ || resized || options_.refreshInterval <= 1 ||
                    framesSinceFull_ >= static_cast<uint32_t>(options_.refreshInterval);
  std::vector<uint8_t> sent = full ? std::vector<uint8_t>(tiles, 1) : ChangedTiles(picture);
  int sentCount = 0;
  std::array<int16_t, kCoefficientsPerTile> tile{};
  for (int t = 0; t < tiles; ++t) {
    if (!sent[t]) continue;
    ComputeTile(t, picture, tile);
    int16_t* stored = &coefficients_[static_cast<size_t>(t) * kCoefficientsPerTile];
    // A tile whose pixels moved but whose coefficients did not is not worth sending.
    if (!full && std::equal(tile.begin(), tile.end(), stored)) {
      sent[t] = 0;
      continue;
    }
    std::copy(tile.begin(), tile.end(), stored);
    ++sentCount;
  }
  if (full && options_.huffman == HuffmanMode::kCustom) BuildCustomHuffman(sent);
  const bool as444 = full && options_.fullFrames444;
  const bool as422 = full && options_.fullFrames422 && !as444;

  std::vector<uint8_t> out;
  out.reserve(4096 + static_cast<size_t>(sentCount) * 600);
  const int fill = options_.fillBytes;
  PutMarker(out, 0xD8, fill);
  if (options_.writeM1ImgComment) PutSegment(out, 0xFE, {'#', ':', 'M', '1', 'I', 'M', 'G'}, fill);
  std::vector<uint8_t> mxf = {'M', 'X', 'F', 0, 0, 0, 0, 0};
  PutLe(mxf, timestampUs, 8);
  PutLe(mxf, 0, 4);
  PutLe(mxf, frameNumber_, 4);
  PutSegment(out, 0xFE, mxf, fill);
  if (full && options_.tablesEveryFullFrame) quantChanged_ = huffmanChanged_ = true;
  const bool tablesSent = quantChanged_ || huffmanChanged_;
  if (quantChanged_) {
    std::vector<uint8_t> dqt;
    for (int t = 0; t < 2; ++t) {
      dqt.push_back(static_cast<uint8_t>(t));
      for (int k = 0; k < 64; ++k) dqt.push_back(static_cast<uint8_t>(quant_[t][kZigZag[k]]));
    }
    PutSegment(out, 0xDB, dqt, fill);
    quantChanged_ = false;
  }
  if (huffmanChanged_) {
    std::vector<uint8_t> dht;
    const uint8_t ids[4] = {0x00, 0x10, 0x01, 0x11};
    for (int t = 0; t < 4; ++t) {
      dht.push_back(ids[t]);
      dht.insert(dht.end(), huffmanSpec_[t].begin(), huffmanSpec_[t].end());
    }
    PutSegment(out, 0xC4, dht, fill);
    huffmanChanged_ = false;
  }
  std::vector<uint8_t> sof = {8};
  Put16(sof, static_cast<unsigned>(height_));
  Put16(sof, static_cast<unsigned>(width_));
  sof.insert(sof.end(), {3, 1, static_cast<uint8_t>(as444 ? 0x11 : as422 ? 0x21 : 0x22), 0, 2, 0x11, 1, 3, 0x11, 1});
  PutSegment(out, 0xC0, sof, fill);
  // Sensor text in as many comment segments as it needs (65533 payload bytes each).
  for (size_t pos = 0; pos < sensorText.size(); pos += 65533) {
    const size_t n = std::min<size_t>(65533, sensorText.size() - pos);
    PutSegment(out, 0xFE, std::vector<uint8_t>(sensorText.begin() + pos, sensorText.begin() + pos + n), fill);
  }
  if (!full) {
    std::vector<uint8_t> mxm = {'M', 'X', 'M', 0};
    PutLe(mxm, static_cast<uint64_t>(tileColumns_), 2);
    PutLe(mxm, static_cast<uint64_t>(tileRows_), 2);
    PutLe(mxm, 0, 4);
    std::vector<uint8_t> map((tiles + 7) / 8, 0);
    for (int t = 0; t < tiles; ++t)
      if (sent[t]) map[t / 8] |= static_cast<uint8_t>(0x80 >> (t % 8));
    mxm.insert(mxm.end(), map.begin(), map.end());
    PutSegment(out, 0xFE, mxm, fill);
  }
  if (options_.restartInterval > 0) {
    const unsigned interval = static_cast<unsigned>(options_.restartInterval);
    PutSegment(out, 0xDD, {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)}, fill);
  }
  PutSegment(out, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}, fill);
  if (as444) WriteScan444(out, picture);
  else if (as422) WriteScan422(out, To422(input));
  else WriteScan420(out, sent);
  PutMarker(out, 0xD9, fill);

  last_ = FrameInfo{full, as422, as444, tablesSent, sentCount, frameNumber_};
  ++frameNumber_;
  framesSinceFull_ = full ? 1 : framesSinceFull_ + 1;
  forceFull_ = false;
  previous_ = picture;
  return out;
}

}  // namespace mxpegenc
