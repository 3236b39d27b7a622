// Hand-built MxPEG frames for the tests: explicit tables, tile maps, sampling and scan bits, so that
// cases no sane encoder produces (oversized values, huge pictures, broken tables) can be fed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mxmtest {

struct FrameSpec {
  int width = 16;
  int height = 16;
  bool sampling422 = false;                        // component 0 sampled 2x1
  std::optional<std::array<uint8_t, 3>> sampling;  // sampling bytes of Y, Cb, Cr instead of the above
  std::optional<std::vector<uint8_t>> tileMap;     // "MXM" comment with this map (bits MSB first)
  bool writeQuant = true;
  std::array<uint16_t, 64> quant{};                // natural order, both tables; all 1 by default
  std::optional<std::array<uint16_t, 64>> crQuant; // a third table, Cr's own
  bool writeHuffman = true;
  std::vector<uint8_t> huffmanSegment;             // DHT payload; empty: the four Annex K tables
  std::vector<uint8_t> scan;                       // entropy-coded bytes (EOI is appended)
  std::vector<std::vector<uint8_t>> extraSegments; // complete segments written before SOF0
};

FrameSpec DefaultSpec();
std::vector<uint8_t> BuildFrame(const FrameSpec& spec);

// Scan of blocks in coding order with the Annex K tables. Each block is 64 natural-order values;
// components per block follow the sampling: 4:2:0 Y Y Y Y Cb Cr per tile, 4:2:2 Y Y Cb Cr per unit.
std::vector<uint8_t> EncodeScan(const std::vector<std::array<int16_t, 64>>& blocks, bool sampling422);

// Appends one segment (marker + length + payload).
void PutSegment(std::vector<uint8_t>& out, uint8_t marker, const std::vector<uint8_t>& payload);

// The four Annex K tables as one DHT payload.
std::vector<uint8_t> StandardHuffmanPayload();

}  // namespace mxmtest
