// libFuzzer target: the fast paths of the MxPEG converter against their straightforward references.
// - Huffman tables: a table built from the input's DHT data must decode every bit pattern the input
//   names exactly as the bit-by-bit tree walk does, and its short-code entries as Decode and EXTEND.
// - Tile-scan assembly: a store of tiles changed round by round as the input says (camera-like values
//   or values beyond what the tables carry) must give, after every round, the scan the block-by-block
//   writer gives for the whole store.
// A difference is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mxm/JpegScanWriter.h"
#include "mxm/TileScanCache.h"
#include "mxm/mxcpcHuffmanTree.h"

namespace {

void CheckHuffman(FuzzedDataProvider& in) {
  std::vector<uint8_t> spec = in.ConsumeBytes<uint8_t>(16);
  spec.resize(16, 0);
  size_t symbols = 0;
  for (uint8_t c : spec) symbols += c;
  std::vector<uint8_t> values = in.ConsumeBytes<uint8_t>(std::min<size_t>(symbols, 256));
  values.resize(symbols, 0);
  spec.insert(spec.end(), values.begin(), values.end());
  const auto tree = mxm::mxcpcHuffmanTree::Build(spec.data());
  if (!tree) return;
  for (int n = 0; n < 64 && in.remaining_bytes() >= 2; ++n) {
    const uint32_t bits = in.ConsumeIntegral<uint16_t>();
    int walkSymbol = -1, walkLength = 0;
    for (int length = 1; length <= 16 && walkSymbol < 0; ++length) {
      const int symbol = tree->DecodeBits(bits >> (16 - length), length);
      if (symbol >= 0) walkSymbol = symbol, walkLength = length;
    }
    const mxm::mxcpcHuffmanTree::Code code = tree->Decode(bits);
    if (walkSymbol < 0 ? code.length != 0 : (code.length != walkLength || code.symbol != walkSymbol)) __builtin_trap();
    // Short codes with their value bits: the first kFastBits bits.
    const uint32_t shortBits = bits >> (16 - mxm::mxcpcHuffmanTree::kFastBits);
    const int32_t fast = tree->FastAc(shortBits);
    if (fast == 0) continue;
    const int size = code.symbol & 15;
    const int total = code.length + size;
    if (code.length == 0 || total != (fast & 31) || ((fast >> 8) & 255) != code.symbol ||
        ((fast & mxm::mxcpcHuffmanTree::kFastValue) != 0) != (size != 0))
      __builtin_trap();
    int value = 0;
    if (size != 0) {
      const int raw = static_cast<int>((bits >> (16 - total)) & ((1u << size) - 1));
      value = raw >= (1 << (size - 1)) ? raw : raw - (1 << size) + 1;
    }
    if ((fast >> 16) != value) __builtin_trap();
  }
}

void FillTile(FuzzedDataProvider& in, int16_t* tile) {
  const uint8_t shape = in.ConsumeIntegral<uint8_t>();
  const bool wild = (shape & 0x80) != 0;
  for (int b = 0; b < 6; ++b) {
    int16_t* block = tile + b * 64;
    std::fill(block, block + 64, int16_t{0});
    block[0] = wild ? in.ConsumeIntegral<int16_t>() : static_cast<int16_t>(static_cast<int8_t>(in.ConsumeIntegral<uint8_t>()) * 4);
    for (int j = 0; j < (shape & 15); ++j) {
      const int position = 1 + in.ConsumeIntegral<uint8_t>() % 63;
      block[position] = wild ? in.ConsumeIntegral<int16_t>() : static_cast<int16_t>(static_cast<int8_t>(in.ConsumeIntegral<uint8_t>()));
    }
  }
}

void CheckScanCache(FuzzedDataProvider& in) {
  static const mxm::EncodingSet luminance =
      mxm::EncodingSet::Build(mxm::kStdDcLuminance.data(), mxm::kStdAcLuminance.data());
  static const mxm::EncodingSet chrominance =
      mxm::EncodingSet::Build(mxm::kStdDcChrominance.data(), mxm::kStdAcChrominance.data());
  const size_t tiles = in.ConsumeIntegralInRange<size_t>(1, 16);
  std::vector<int16_t> store(tiles * mxm::TileScanCache::kCoefficientsPerTile, 0);
  mxm::TileScanCache cache;
  cache.Resize(tiles);
  static mxm::JpegScanWriter reference;  // reset for every round; kept to spare each run its allocation
  for (int round = 0; round < 24 && in.remaining_bytes() > 0; ++round) {
    const uint8_t action = in.ConsumeIntegral<uint8_t>();
    if (action < 16) {
      cache.Invalidate();
    } else if (action < 64) {
      cache.MarkChanged(in.ConsumeIntegralInRange<size_t>(0, tiles - 1));  // marked, values kept
    } else if (action < 240) {
      for (int c = 0; c <= (action & 3); ++c) {
        const size_t t = in.ConsumeIntegralInRange<size_t>(0, tiles - 1);
        FillTile(in, &store[t * mxm::TileScanCache::kCoefficientsPerTile]);
        cache.MarkChanged(t);
      }
    }  // else nothing changed: the scan comes from kept bits alone
    cache.Write(store.data(), luminance, chrominance);
    reference.Reset();
    int pred[3] = {0, 0, 0};
    for (size_t t = 0; t < tiles; ++t) {
      const int16_t* tile = &store[t * mxm::TileScanCache::kCoefficientsPerTile];
      for (int b = 0; b < 4; ++b) reference.EncodeBlock(tile + b * 64, pred[0], luminance);
      reference.EncodeBlock(tile + 4 * 64, pred[1], chrominance);
      reference.EncodeBlock(tile + 5 * 64, pred[2], chrominance);
    }
    reference.Finish();
    if (cache.Size() != reference.Size() || !std::equal(cache.Data(), cache.Data() + cache.Size(), reference.Data()))
      __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FuzzedDataProvider in(data + 1, size - 1);
  if (data[0] & 1)
    CheckHuffman(in);
  else
    CheckScanCache(in);
  return 0;
}
