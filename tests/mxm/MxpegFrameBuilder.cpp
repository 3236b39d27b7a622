// Hand-built MxPEG frames for the tests.
#include "MxpegFrameBuilder.h"

#include "mxm/JpegScanWriter.h"
#include "mxm/MxPEGScanDecoderCore.h"
#include "mxpegenc/BitSink.h"
#include "mxpegenc/HuffmanBuilder.h"

namespace mxmtest {

void PutSegment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& payload) {
  out.push_back(0xFF);
  out.push_back(marker);
  out.push_back(static_cast<uint8_t>((payload.size() + 2) >> 8));
  out.push_back(static_cast<uint8_t>(payload.size() + 2));
  out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> StandardHuffmanPayload() {
  std::vector<uint8_t> p;
  auto add = [&](uint8_t id, const uint8_t* data, size_t n) {
    p.push_back(id);
    p.insert(p.end(), data, data + n);
  };
  add(0x00, mxm::kStdDcLuminance.data(), mxm::kStdDcLuminance.size());
  add(0x10, mxm::kStdAcLuminance.data(), mxm::kStdAcLuminance.size());
  add(0x01, mxm::kStdDcChrominance.data(), mxm::kStdDcChrominance.size());
  add(0x11, mxm::kStdAcChrominance.data(), mxm::kStdAcChrominance.size());
  return p;
}

FrameSpec DefaultSpec() {
  FrameSpec s;
  s.quant.fill(1);
  return s;
}

std::vector<uint8_t> BuildFrame(const FrameSpec& spec) {
  std::vector<uint8_t> out = {0xFF, 0xD8};
  if (spec.writeQuant) {
    std::vector<uint8_t> dqt;
    for (int t = 0; t < (spec.crQuant ? 3 : 2); ++t) {
      const std::array<uint16_t, 64>& table = t == 2 ? *spec.crQuant : spec.quant;
      dqt.push_back(static_cast<uint8_t>(t));
      for (int k = 0; k < 64; ++k) dqt.push_back(static_cast<uint8_t>(table[mxm::kZigZagToNatural[k]]));
    }
    PutSegment(out, 0xDB, dqt);
  }
  if (spec.writeHuffman)
    PutSegment(out, 0xC4, spec.huffmanSegment.empty() ? StandardHuffmanPayload() : spec.huffmanSegment);
  for (const auto& segment : spec.extraSegments) out.insert(out.end(), segment.begin(), segment.end());
  const std::array<uint8_t, 3> sampling =
      spec.sampling.value_or(std::array<uint8_t, 3>{static_cast<uint8_t>(spec.sampling422 ? 0x21 : 0x22), 0x11, 0x11});
  PutSegment(out, 0xC0,
             {8, static_cast<uint8_t>(spec.height >> 8), static_cast<uint8_t>(spec.height),
              static_cast<uint8_t>(spec.width >> 8), static_cast<uint8_t>(spec.width), 3, 1, sampling[0], 0, 2,
              sampling[1], 1, 3, sampling[2], static_cast<uint8_t>(spec.crQuant ? 2 : 1)});
  if (spec.tileMap) {
    std::vector<uint8_t> mxm = {'M', 'X', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0};
    mxm.insert(mxm.end(), spec.tileMap->begin(), spec.tileMap->end());
    PutSegment(out, 0xFE, mxm);
  }
  PutSegment(out, 0xDA, {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  out.insert(out.end(), spec.scan.begin(), spec.scan.end());
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

std::vector<uint8_t> EncodeScan(const std::vector<std::array<int16_t, 64>>& blocks, bool sampling422) {
  std::vector<uint8_t> spec[4];
  auto toVector = [](const auto& a) { return std::vector<uint8_t>(a.begin(), a.end()); };
  spec[0] = toVector(mxm::kStdDcLuminance);
  spec[1] = toVector(mxm::kStdAcLuminance);
  spec[2] = toVector(mxm::kStdDcChrominance);
  spec[3] = toVector(mxm::kStdAcChrominance);
  uint16_t code[4][256];
  uint8_t length[4][256];
  for (int t = 0; t < 4; ++t) mxpegenc::BuildCodeTable(spec[t], code[t], length[t]);
  std::vector<uint8_t> out;
  mxpegenc::BitSink sink(out);
  int pred[3] = {0, 0, 0};
  const int perUnit = sampling422 ? 4 : 6;
  for (size_t b = 0; b < blocks.size(); ++b) {
    const int slot = static_cast<int>(b % perUnit);
    const int component = slot < perUnit - 2 ? 0 : slot - (perUnit - 3);
    const int set = component == 0 ? 0 : 2;
    mxpegenc::EncodeBlock(sink, blocks[b].data(), pred[component], mxm::kZigZagToNatural.data(), code[set],
                          length[set], code[set + 1], length[set + 1]);
  }
  sink.Flush();
  return out;
}

}  // namespace mxmtest
