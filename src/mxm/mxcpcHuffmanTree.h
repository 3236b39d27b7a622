// Binary Huffman decoding tree built from DHT data, and the decoding tables derived from it that the
// scan decoder uses instead of walking the tree.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace mxm {

// Nodes live in one array: index 0 is the sentinel (both children point to it), index 1 the root.
// A 0 bit selects the left child. After building, every empty child points to the sentinel, so a bit
// pattern that is no code ends there. Immutable once built; safe to read from any thread.
class mxcpcHuffmanTree {
 public:
  static constexpr int kLookupBits = 9;
  static constexpr int32_t kSentinel = 0;
  static constexpr int32_t kRoot = 1;

  struct Node {
    int32_t left = kSentinel;
    int32_t right = kSentinel;
    bool leaf = false;
    uint8_t symbol = 0;
  };

  // Result of a table decode: a code of `length` bits (1..16) with its symbol, or length 0 when the
  // bits are no code (the tree walk would reach the sentinel).
  struct Code {
    uint8_t length = 0;
    uint8_t symbol = 0;
  };

  virtual ~mxcpcHuffmanTree() = default;

  // data: the 16 code counts for lengths 1..16 followed directly by their symbols. Each symbol takes
  // the leftmost free place at its depth (the canonical codes of T.81 Annex C). Null when the codes
  // do not fit in a binary tree. Throws std::bad_alloc only.
  static std::unique_ptr<mxcpcHuffmanTree> Build(const uint8_t* data);

  const Node& NodeAt(int32_t index) const { return nodes_[static_cast<size_t>(index)]; }

  // Decodes the code at the top of `bits16` (the next 16 scan bits, most significant first, zeros past
  // the end of the data). Gives exactly what the tree walk gives for the same bits: two table reads
  // (kLookupBits bits, then the remaining 16 - kLookupBits for the longer codes) instead of one step per bit.
  Code Decode(uint32_t bits16) const {
    const uint32_t e = primary_[bits16 >> kSubBits];
    if ((e & kSubtableFlag) == 0) return Code{static_cast<uint8_t>(e >> 8), static_cast<uint8_t>(e)};
    return subtables_[((e & 0xFFFFu) << kSubBits) | (bits16 & ((1u << kSubBits) - 1))];
  }

  // Code and value together for the short codes: `bits` are the next kFastBits scan bits. When the
  // code and its value bits (symbol read as run << 4 | size) both fit in them, gives
  // value << 16 | symbol << 8 | kFastValue when size > 0 | total bits (1..kFastBits); else 0 and the
  // caller takes Decode's path.
  static constexpr int kFastBits = 10;
  static constexpr int32_t kFastValue = 64;
  int32_t FastAc(uint32_t bits) const { return fastAc_[bits]; }

  // Asks for the lines of the decoding tables, ahead of a picture that finds the caches cold (the
  // table reads otherwise wait one after another); nothing where the compiler has no such hint.
  void Prefetch() const;

  // Walks the tree from the root with the given bits, most significant first; for tests.
  // Returns the symbol, or -1 when the bits lead to the sentinel or end before a leaf.
  int DecodeBits(uint32_t bits, int count) const;

 private:
  mxcpcHuffmanTree();
  struct Leaf {
    uint32_t code;
    uint8_t length;
    uint8_t symbol;
  };
  void Place(uint32_t code, int length, uint8_t symbol, int from, int32_t* path);
  void BuildTables(const std::vector<Leaf>& leaves);

  static constexpr int kSubBits = 16 - kLookupBits;
  // Primary entry: symbol in bits 0-7 and code length in bits 8-15 (0: no code); with kSubtableFlag the
  // low 16 bits instead number the subtable of the inner node reached after kLookupBits bits.
  static constexpr uint32_t kSubtableFlag = 1u << 31;

  std::vector<Node> nodes_;
  std::array<uint32_t, 1u << kLookupBits> primary_{};
  std::vector<Code> subtables_;  // (1 << kSubBits) entries per inner node at depth kLookupBits
  std::array<int32_t, 1u << kFastBits> fastAc_{};
};

}  // namespace mxm
