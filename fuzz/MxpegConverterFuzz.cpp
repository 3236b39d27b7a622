// libFuzzer target: MxPEG frames built from a compact description, so that inputs spend their time in
// the converter rather than in the parser's refusals. Each frame picks its size (at most 64 pixels a
// side; 256 when the first byte is 0xFF), sampling, tables (new quantisation tables, a separate one for
// Cr, Annex K or reordered Huffman tables, or raw table bytes), tile map, restart interval, fill bytes
// and damage; its blocks are coded from the input's values. Findings:
// - a picture whose scan differs from the block-by-block writer's for the converter's store;
// - a picture that is not framed as a JPEG or exceeds the size limit;
// - a well-formed 4:2:0 frame whose decoded coefficients differ from the coded ones, or whose tiles not
//   sent differ from the previous ones re-expressed in new quantisation tables; a 4:2:2 one whose
//   luminance differs;
// - a picture from a frame in another sampling, or with restart markers out of sequence or without DRI.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mxm/JpegScanWriter.h"
#include "mxm/MxPEGParser.h"

namespace {

constexpr uint32_t kBufferSize = 128 * 1024;

using Bytes = std::vector<uint8_t>;
using Block = std::array<int16_t, 64>;
using Table = std::array<uint16_t, 64>;  // natural order

// Input, from the end: a size-limit byte, then per frame a kind byte (bit 0 new quantisation tables,
// bit 3 tile map, bits 4-5 sampling, bit 6 restart interval, bit 7 damage), an option byte (bits 0-1
// fill bytes, bit 2 Cr's own table, bits 3-5 interval - 1, bit 6 a restart marker out of sequence,
// bit 7 markers without DRI), a table byte (low three bits 5, 6, 7: new Huffman tables) and the size;
// block values and table bytes come from the front.

constexpr uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The entropy-coded data of a picture: after the segments up to SOS, before EOI.
bool ScanOf(const Bytes& picture, size_t* begin) {
  size_t at = 2;
  while (at + 4 <= picture.size() && picture[at] == 0xFF) {
    const size_t length = (picture[at + 2] << 8) | picture[at + 3];
    const uint8_t marker = picture[at + 1];
    at += 2 + length;
    if (marker == 0xDA) {
      *begin = at;
      return at + 2 <= picture.size();
    }
  }
  return false;
}

class CheckingReceiver : public mxm::ISegmentedStreamReceiver {
 public:
  explicit CheckingReceiver(int32_t limit) : limit_(limit) {}
  void FrameComplete(int32_t width, int32_t height) override {
    if (picture_.size() < 4 || picture_[0] != 0xFF || picture_[1] != 0xD8 || picture_[picture_.size() - 2] != 0xFF ||
        picture_.back() != 0xD9)
      __builtin_trap();
    if (width < 1 || height < 1 || width > limit_ || height > limit_) __builtin_trap();
    pictures.push_back(std::move(picture_));
    picture_.clear();
  }
  void AppendSegment(const uint8_t* data, uint32_t length) override {
    picture_.insert(picture_.end(), data, data + length);
  }
  std::vector<Bytes> pictures;

 private:
  int32_t limit_;
  Bytes picture_;
};

void PutMarker(Bytes& out, uint8_t marker, int fill) {
  out.insert(out.end(), static_cast<size_t>(fill), 0xFF);
  out.push_back(0xFF);
  out.push_back(marker);
}

void PutSegment(Bytes& out, uint8_t marker, const Bytes& payload, int fill) {
  PutMarker(out, marker, fill);
  out.push_back(static_cast<uint8_t>((payload.size() + 2) >> 8));
  out.push_back(static_cast<uint8_t>(payload.size() + 2));
  out.insert(out.end(), payload.begin(), payload.end());
}

Bytes Spec(const uint8_t* data, size_t size) { return Bytes(data, data + size); }

// A DC value and a few AC values; sizes stay within what the Annex K tables code.
Block MakeBlock(FuzzedDataProvider& in) {
  Block b{};
  const uint8_t shape = in.ConsumeIntegral<uint8_t>();
  b[0] = static_cast<int16_t>(static_cast<int8_t>(in.ConsumeIntegral<uint8_t>()) * 8);
  for (int j = 0; j < (shape & 7); ++j) {
    const int position = 1 + in.ConsumeIntegral<uint8_t>() % 63;
    const int value = static_cast<int8_t>(in.ConsumeIntegral<uint8_t>()) * ((shape & 0x80) ? 8 : 1);
    b[static_cast<size_t>(position)] = static_cast<int16_t>(std::clamp(value, -1023, 1023));
  }
  return b;
}

struct Stream {
  std::array<Bytes, 4> huffman;  // DC luma, AC luma, DC chroma, AC chroma: 16 counts + symbols
  bool tablesKnown = false;      // the decoder holds exactly the tables above
  std::array<Table, 3> quant{};  // tables 0, 1, 2 as sent
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int32_t limit = in.ConsumeIntegral<uint8_t>() == 0xFF ? 256 : 64;
  CheckingReceiver cached(limit);
  // Inputs are far smaller than a camera's frames: a small frame buffer keeps each run cheap.
  mxm::MxPEGParser a(&cached, kBufferSize);
  a.Converter().SetMaxPictureSide(limit);
  auto feed = [&](const Bytes& bytes) {
    if (!a.Feed(bytes.data(), static_cast<uint32_t>(bytes.size()))) __builtin_trap();  // frames are far smaller
  };
  static const mxm::EncodingSet outputLuma = mxm::EncodingSet::Build(mxm::kStdDcLuminance.data(), mxm::kStdAcLuminance.data());
  static const mxm::EncodingSet outputChroma =
      mxm::EncodingSet::Build(mxm::kStdDcChrominance.data(), mxm::kStdAcChrominance.data());
  Stream s;
  // The store after the last checked frame, and the tables of Y, Cb and Cr it was in.
  std::vector<int16_t> expected;
  std::array<Table, 3> expectedQuant{};
  int expectedColumns = 0;
  static mxm::JpegScanWriter writer;  // reset for every use; kept to spare each run its allocation
  const Bytes soi = {0xFF, 0xD8};
  feed(soi);
  for (int frame = 0; frame < 6 && in.remaining_bytes() > 0 && !a.IsDiscarding(); ++frame) {
    const uint8_t kind = in.ConsumeIntegral<uint8_t>();
    const uint8_t extra = in.ConsumeIntegral<uint8_t>();
    const uint8_t tables = in.ConsumeIntegral<uint8_t>();
    const bool newQuant = (kind & 1) != 0 || frame == 0;
    // Huffman tables, mostly kept from frame to frame as cameras do: Annex K, reordered or raw bytes.
    const int huffman = (tables & 7) < 5 ? (frame == 0 ? 1 : 0) : (tables & 7) - 4;
    const bool mapped = (kind & 8) != 0;
    const int sampling = (kind >> 4) & 3;  // 4:2:0, 4:2:2, 4:4:4, sampling bytes from the input
    const bool restart = (kind & 64) != 0;
    const bool damage = (kind & 128) != 0;
    const int fill = extra & 3;
    const bool crOwnTable = (extra & 4) != 0;
    const int interval = 1 + ((extra >> 3) & 7);
    const bool wrongSequence = (extra & 64) != 0;
    const bool noDri = (extra & 128) != 0;
    const int width = in.ConsumeIntegralInRange<int>(1, limit);
    const int height = in.ConsumeIntegralInRange<int>(1, limit);
    const int columns = (width + 15) / 16, rows = (height + 15) / 16;

    Bytes body;
    if (newQuant) {
      Bytes dqt;
      for (int t = 0; t < 3; ++t) {
        const int base = in.ConsumeIntegralInRange<int>(1, 40), step = in.ConsumeIntegralInRange<int>(0, 40);
        dqt.push_back(static_cast<uint8_t>(t));
        for (int k = 0; k < 64; ++k) {
          const uint16_t q = static_cast<uint16_t>(std::min(255, base + k * step / 16));
          s.quant[static_cast<size_t>(t)][kZigZag[k]] = q;
          dqt.push_back(static_cast<uint8_t>(q));
        }
      }
      PutSegment(body, 0xDB, dqt, fill);
    }
    if (huffman != 0) {
      s.huffman = {Spec(mxm::kStdDcLuminance.data(), mxm::kStdDcLuminance.size()),
                   Spec(mxm::kStdAcLuminance.data(), mxm::kStdAcLuminance.size()),
                   Spec(mxm::kStdDcChrominance.data(), mxm::kStdDcChrominance.size()),
                   Spec(mxm::kStdAcChrominance.data(), mxm::kStdAcChrominance.size())};
      s.tablesKnown = huffman != 3;
      Bytes dht;
      for (int t = 0; t < 4; ++t) {
        Bytes& spec = s.huffman[static_cast<size_t>(t)];
        if (huffman == 2) {  // the same codes for other symbols: a complete table unlike Annex K
          for (size_t i = spec.size() - 1; i > 16; --i)
            std::swap(spec[i], spec[16 + in.ConsumeIntegralInRange<size_t>(0, i - 16)]);
        }
        // Raw bytes go to the decoder only; the scan is still coded with the Annex K tables.
        const Bytes sentSpec = huffman == 3 ? in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(16, 60)) : spec;
        dht.push_back(static_cast<uint8_t>((t & 1) << 4 | (t >> 1)));
        dht.insert(dht.end(), sentSpec.begin(), sentSpec.end());
      }
      PutSegment(body, 0xC4, dht, fill);
    }
    uint8_t samplingBytes[3] = {0x22, 0x11, 0x11};
    if (sampling == 1) samplingBytes[0] = 0x21;
    if (sampling == 2) samplingBytes[0] = 0x11;
    if (sampling == 3)
      for (uint8_t& v : samplingBytes) v = in.ConsumeIntegral<uint8_t>();
    PutSegment(body, 0xC0,
               {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height), static_cast<uint8_t>(width >> 8),
                static_cast<uint8_t>(width), 3, 1, samplingBytes[0], 0, 2, samplingBytes[1], 1, 3, samplingBytes[2],
                static_cast<uint8_t>(crOwnTable ? 2 : 1)},
               fill);
    if (restart && !noDri) PutSegment(body, 0xDD, {0, static_cast<uint8_t>(interval)}, fill);
    std::vector<uint8_t> sent(static_cast<size_t>(columns * rows), 1);
    if (mapped) {
      Bytes map = in.ConsumeBytes<uint8_t>(static_cast<size_t>((columns * rows + 7) / 8));
      map.resize(static_cast<size_t>((columns * rows + 7) / 8), 0);
      Bytes mxm = {'M', 'X', 'M', 0, static_cast<uint8_t>(columns), 0, static_cast<uint8_t>(rows), 0, 0, 0, 0, 0};
      mxm.insert(mxm.end(), map.begin(), map.end());
      PutSegment(body, 0xFE, mxm, fill);
      for (size_t t = 0; t < sent.size(); ++t) sent[t] = (map[t / 8] & (0x80 >> (t % 8))) != 0;
    }
    PutSegment(body, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}, fill);

    // The scan: units of 6 (4:2:0), 4 (4:2:2) or 3 blocks, the coded tiles in raster order.
    const int perUnit = sampling == 0 ? 6 : sampling == 1 ? 4 : 3;
    std::vector<size_t> unitTiles;
    if (sampling == 0) {
      for (size_t t = 0; t < sent.size(); ++t)
        if (sent[t]) unitTiles.push_back(t);
    } else {
      const int unitColumns = sampling == 1 ? columns : (width + 7) / 8;
      unitTiles.resize(static_cast<size_t>(unitColumns * ((height + 7) / 8)));
    }
    const mxm::EncodingSet luma = mxm::EncodingSet::Build(s.huffman[0].data(), s.huffman[1].data());
    const mxm::EncodingSet chroma = mxm::EncodingSet::Build(s.huffman[2].data(), s.huffman[3].data());
    writer.Reset();
    std::vector<Block> coded;
    int pred[3] = {0, 0, 0};
    int markers = 0;
    for (size_t u = 0; u < unitTiles.size(); ++u) {
      for (int k = 0; k < perUnit; ++k) {
        const int component = k < perUnit - 2 ? 0 : k - (perUnit - 3);
        coded.push_back(MakeBlock(in));
        writer.EncodeBlock(coded.back().data(), pred[component], component == 0 ? luma : chroma);
      }
      if (restart && (u + 1) % static_cast<size_t>(interval) == 0 && u + 1 < unitTiles.size()) {
        writer.Finish();
        body.insert(body.end(), writer.Data(), writer.Data() + writer.Size());
        writer.Reset();
        const int n = wrongSequence && markers == 1 ? markers + 1 : markers;
        PutMarker(body, static_cast<uint8_t>(0xD0 + (n & 7)), fill);
        ++markers;
        pred[0] = pred[1] = pred[2] = 0;
      }
    }
    writer.Finish();
    const size_t scanStart = body.size();
    body.insert(body.end(), writer.Data(), writer.Data() + writer.Size());
    bool damaged = false;
    if (damage && body.size() > scanStart) {
      const size_t at = scanStart + in.ConsumeIntegralInRange<size_t>(0, body.size() - scanStart - 1);
      const uint8_t flip = in.ConsumeIntegral<uint8_t>();
      body[at] ^= flip;
      damaged = flip != 0;
    }
    PutMarker(body, 0xD9, fill);

    const size_t before = cached.pictures.size();
    feed(body);
    feed(soi);  // converts the frame
    if (cached.pictures.size() > before) {  // the store coded block by block gives the picture's scan
      const std::vector<int16_t>& store = a.Converter().CoefficientStore();
      writer.Reset();
      int outPred[3] = {0, 0, 0};
      for (size_t t = 0; t < store.size() / 384; ++t) {
        for (int k = 0; k < 6; ++k)
          writer.EncodeBlock(&store[t * 384 + k * 64], outPred[k < 4 ? 0 : k - 3], k < 4 ? outputLuma : outputChroma);
      }
      writer.Finish();
      const Bytes& picture = cached.pictures.back();
      size_t scan = 0;
      if (!ScanOf(picture, &scan) || picture.size() - 2 - scan != writer.Size() ||
          !std::equal(writer.Data(), writer.Data() + writer.Size(), picture.begin() + static_cast<std::ptrdiff_t>(scan)))
        __builtin_trap();
    }
    if (a.IsDiscarding()) {
      if (!damaged) __builtin_trap();  // fill bytes and every marker here are known ones
      break;                           // a damaged scan may end early and leave its EOI outside
    }
    const bool pictured = cached.pictures.size() == before + 1;
    const bool converts = sampling == 0 || sampling == 1 ||
                          (sampling == 3 && (samplingBytes[0] == 0x22 || samplingBytes[0] == 0x21) &&
                           samplingBytes[1] == 0x11 && samplingBytes[2] == 0x11);
    const bool brokenRestarts = restart && ((noDri && markers >= 1) || (wrongSequence && markers >= 2));
    if (pictured && (!converts || (brokenRestarts && s.tablesKnown && !damaged))) __builtin_trap();
    // A well-formed frame on tables the decoder holds: its coded units hold the coded values.
    const bool wellFormed = (sampling == 0 || sampling == 1) && s.tablesKnown && !damaged && !brokenRestarts &&
                            (sampling == 0 || !mapped);
    const std::vector<int16_t>& store = a.Converter().CoefficientStore();
    if (!wellFormed) {
      expected.clear();
      continue;
    }
    if (!pictured || store.size() != sent.size() * 384) __builtin_trap();
    if (sampling == 1) {  // 4:2:2: the luminance blocks; chroma went through the conversion
      for (size_t u = 0; u < unitTiles.size(); ++u) {
        const size_t row = u / static_cast<size_t>(columns), column = u % static_cast<size_t>(columns);
        for (int k = 0; k < 2; ++k)
          if (!std::equal(coded[u * 4 + k].begin(), coded[u * 4 + k].end(),
                          store.begin() + ((row / 2) * columns + column) * 384 + ((row % 2) * 2 + k) * 64))
            __builtin_trap();
      }
      expected.clear();
      continue;
    }
    for (size_t u = 0; u < unitTiles.size(); ++u)
      for (int k = 0; k < 6; ++k)
        if (!std::equal(coded[u * 6 + k].begin(), coded[u * 6 + k].end(), store.begin() + unitTiles[u] * 384 + k * 64))
          __builtin_trap();
    const std::array<Table, 3> quant = {s.quant[0], s.quant[1], s.quant[crOwnTable ? 2 : 1]};
    if (expected.size() == store.size() && expectedColumns == columns) {  // same grid: tiles not sent are the kept ones, re-expressed
      for (size_t t = 0; t < sent.size(); ++t) {
        if (sent[t]) continue;
        for (int k = 0; k < 6; ++k) {
          const size_t c = k < 4 ? 0 : static_cast<size_t>(k - 3);
          for (int i = 0; i < 64; ++i) {
            const int32_t from = std::max<int32_t>(expectedQuant[c][i], 1), to = std::max<int32_t>(quant[c][i], 1);
            const int32_t v = expected[t * 384 + k * 64 + i] * from;
            const int32_t magnitude = ((v < 0 ? -v : v) + to / 2) / to;
            const int32_t want = std::clamp<int32_t>(v < 0 ? -magnitude : magnitude, -32768, 32767);
            if (store[t * 384 + k * 64 + i] != want) __builtin_trap();
          }
        }
      }
    }
    expected = store;
    expectedQuant = quant;
    expectedColumns = columns;
  }
  return 0;
}
