// Bit writer of the encoder's entropy-coded scans: most significant bit first, a 0x00 after every 0xFF
// byte, and the last byte padded with 1-bits (T.81 F.1.2.3).
#pragma once

#include <cstdint>
#include <vector>

namespace mxpegenc {

class BitSink {
 public:
  explicit BitSink(std::vector<uint8_t>& out) : out_(out) {}

  // Appends the low `count` bits of `bits` (count 0..24).
  void Put(uint32_t bits, int count) {
    if (count == 0) return;
    acc_ = (acc_ << count) | (bits & ((1u << count) - 1));
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      Byte(static_cast<uint8_t>(acc_ >> pending_));
    }
    acc_ &= (1u << pending_) - 1;
  }

  void Flush() {
    if (pending_ > 0) Put((1u << (8 - pending_)) - 1, 8 - pending_);
  }

 private:
  void Byte(uint8_t b) {
    out_.push_back(b);
    if (b == 0xFF) out_.push_back(0x00);
  }

  std::vector<uint8_t>& out_;
  uint32_t acc_ = 0;
  int pending_ = 0;
};

}  // namespace mxpegenc
