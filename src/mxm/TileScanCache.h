// The converter's scan writer: keeps the entropy-coded bits of every tile between pictures, so that a
// picture re-codes only the tiles that changed and copies the others bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mxm/BitWordWriter.h"
#include "mxm/JpegScanWriter.h"

namespace mxm {

// A tile's bits depend only on its coefficients, except for the three DC differences that chain from
// the tile before (first luminance block, Cb, Cr). Per tile this keeps, unstuffed and word aligned:
//   luma:   block 0 without its DC code, then blocks 1-3 complete (their DC chain is tile-local),
//   chroma: the AC part of Cb, and that of Cr.
// A picture is assembled by writing, per tile, the three DC codes against the running predictors
// between the kept pieces; runs of tiles whose bits cannot have changed since the previous picture
// are copied from its scan whole. 0xFF bytes are stuffed with 0x00 as the words go out. The result is byte
// for byte what JpegScanWriter writes block by block from the same store, including its limits (DC
// differences to +-2047, AC values to +-1023, the predictor following what a decoder rebuilds) and its
// padding with 1-bits.
//
// Used by one converter on its thread. The caller marks every tile whose coefficients it changes
// (MarkChanged) before or while changing them; unmarked tiles must hold the coefficients they had
// when last coded. Memory growth may throw std::bad_alloc; the cache then stays valid only after
// Invalidate().
class TileScanCache {
 public:
  static constexpr int kCoefficientsPerTile = 6 * 64;

  TileScanCache();

  // Forgets every tile's bits and sizes the cache for `tiles` tiles, all to be coded again.
  void Resize(size_t tiles);
  // Every tile is coded again by the next Write.
  void Invalidate();
  void MarkChanged(size_t tile) {
    if (!tiles_[tile].changed) {
      tiles_[tile].changed = true;
      ++changedCount_;
    }
  }
  size_t TileCount() const { return tiles_.size(); }
  size_t ChangedCount() const { return changedCount_; }

  // Taking over bits recorded while decoding (only when the stream's Huffman tables are the output's,
  // so that the decoder's bits are the ones the coder would write): RecordingArea gives room for one
  // tile's pieces at the end of the kept words (may throw std::bad_alloc); CommitRecorded makes the
  // pieces written there, up to `end`, the tile's kept bits. `tile` holds the tile's new coefficients,
  // the pieces follow the layout above and the DC differences of blocks 1-3 within the limit.
  uint64_t* RecordingArea();
  void CommitRecorded(size_t index, const uint64_t* end, uint32_t lumaBits, uint32_t cbBits, uint32_t crBits,
                      const int16_t* tile);

  // Codes the changed tiles of `store` (TileCount() tiles of 6 natural-order blocks) and assembles the
  // whole scan, padded with 1-bits to a byte boundary. Data()/Size() hold it until the next call.
  void Write(const int16_t* store, const EncodingSet& luminance, const EncodingSet& chrominance);

  // Room kept in front of the scan (Data() - bytes .. Data()) from the next Write on, for a caller
  // that puts the picture's header there and sends header and scan as one piece.
  void SetLeadingRoom(size_t bytes);
  // Writable bytes that follow the scan (for the end marker).
  static constexpr size_t kTrailingRoom = 16;

  const uint8_t* Data() const { return output_ ? output_.get() + lead_ : nullptr; }
  // The same, for writing the leading and trailing room.
  uint8_t* MutableData() { return output_ ? output_.get() + lead_ : nullptr; }
  size_t Size() const { return size_; }
  size_t OutputCapacity() const { return capacity_; }
  // Words of kept bits in use, live and in all (the rest is space of replaced tiles); for tests.
  size_t LiveWords() const { return liveWords_; }
  size_t UsedWords() const { return used_; }

 private:
  struct Tile {
    uint32_t offset = 0;  // first word of the luma piece; Cb and Cr pieces follow word aligned
    uint16_t lumaBits = 0;
    uint16_t cbBits = 0;
    uint16_t crBits = 0;
    int16_t dcY = 0;       // coefficient 0 of block 0, of Cb, of Cr
    int16_t dcCb = 0;
    int16_t dcCr = 0;
    int16_t lumaExit = 0;  // luminance predictor after block 3 when block 0 is rebuilt exactly
    int16_t inY = 0;       // the predictors this tile met in the previous picture's scan
    int16_t inCb = 0;
    int16_t inCr = 0;
    bool changed = true;     // coefficients changed since the tile was last coded
  };

  static uint32_t Words(uint32_t bits) { return (bits + 63) / 64; }
  uint32_t TileWords(const Tile& t) const { return Words(t.lumaBits) + Words(t.cbBits) + Words(t.crBits); }
  void Keep(size_t index, const uint64_t* end, uint32_t lumaBits, uint32_t cbBits, uint32_t crBits,
            const int16_t* tile, int lumaExit);
  void CodeTile(size_t index, const int16_t* tile, const EncodingSet& luminance, const EncodingSet& chrominance);
  void Compact();
  size_t NextRecoded(size_t from) const;
  void Assemble(const int16_t* store, const EncodingSet& luminance, const EncodingSet& chrominance);
  void EnsureOutput(size_t bytes);

  std::vector<Tile> tiles_;
  // Kept apart from the records, as the copying of unchanged runs walks only these two:
  std::vector<uint64_t> scanStart_;  // each tile's first bit in the previous picture's scan
  std::vector<uint8_t> recoded_;     // coded since the previous picture: its bits there are stale
  size_t changedCount_ = 0;
  std::vector<uint64_t> words_;  // kept bits, most significant bit of each word first
  std::vector<uint64_t> spare_;  // compaction target, kept to avoid an allocation per compaction
  size_t used_ = 0;
  size_t liveWords_ = 0;
  uint64_t liveBits_ = 0;
  std::vector<uint8_t> previous_;  // the last picture's scan, unstuffed, plus spare bytes
  std::vector<uint8_t> next_;
  uint64_t previousBits_ = 0;
  bool previousValid_ = false;
  std::unique_ptr<uint8_t[]> output_;  // lead_ bytes of room, then the scan
  size_t lead_ = 0;
  size_t capacity_ = 0;  // of the scan, after the room
  size_t size_ = 0;
};

}  // namespace mxm
