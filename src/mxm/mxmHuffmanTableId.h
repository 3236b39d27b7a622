// Identifies a Huffman table slot: class (0 DC, 1 AC) and number (0..3).
#pragma once

#include <cstdint>

namespace mxm {

class mxmHuffmanTableId {
 public:
  mxmHuffmanTableId() = default;
  mxmHuffmanTableId(int32_t cls, int32_t number) : tableClass(cls), tableNumber(number) {}
  virtual ~mxmHuffmanTableId() = default;

  int32_t tableClass = 0;   // 0 = DC, 1 = AC
  int32_t tableNumber = 0;  // 0..3
};

}  // namespace mxm
