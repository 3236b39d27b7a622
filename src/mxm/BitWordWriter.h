// Unstuffed bit writer into whole 64-bit words, shared by the tile-bit cache and the scan decoder that
// records a tile's bits while it reads them.
#pragma once

#include <cstdint>

namespace mxm {

// Bits go in most significant first. Invariant: the low 64 - free_ bits of acc_ are pending (free_ in
// 1..64); the bits above them are already written. The caller provides the room (see TileScanCache).
class BitWordWriter {
 public:
  explicit BitWordWriter(uint64_t* out) : out_(out), pieceStart_(out) {}
  // n in 1..63, value < 2^n.
  void Put(uint64_t value, int n) {
    if (n < free_) {
      acc_ = (acc_ << n) | value;
      free_ -= n;
    } else {  // free_ <= n < 64: the word completes
      *out_++ = (acc_ << free_) | (value >> (n - free_));
      acc_ = value;
      free_ += 64 - n;
    }
  }
  // 64 bits at once.
  void PutWord(uint64_t w) {
    if (free_ == 64) {
      *out_++ = w;
    } else {
      *out_++ = (acc_ << free_) | (w >> (64 - free_));
      acc_ = w;
    }
  }
  // Ends a piece: pads its last word with zeros; the next piece starts a new word. Returns its bits.
  uint32_t ClosePiece() {
    const uint32_t bits = static_cast<uint32_t>(out_ - pieceStart_) * 64 + static_cast<uint32_t>(64 - free_);
    if (free_ < 64) *out_++ = acc_ << free_;
    acc_ = 0;
    free_ = 64;
    pieceStart_ = out_;
    return bits;
  }
  uint64_t* Position() const { return out_; }

 private:
  uint64_t* out_;
  uint64_t* pieceStart_;
  uint64_t acc_ = 0;
  int free_ = 64;
};

}  // namespace mxm
