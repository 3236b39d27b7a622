// Binary Huffman decoding tree built from DHT data, with a 9-bit lookup table for the short codes.
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

  // One entry per kLookupBits-bit pattern: a code of `length` bits (1..9) with its symbol, or
  // length 0 with `node` the inner node reached after 9 bits (kSentinel: the pattern is no code).
  struct LookupEntry {
    uint8_t length = 0;
    uint8_t symbol = 0;
    int32_t node = kSentinel;
  };

  virtual ~mxcpcHuffmanTree() = default;

  // data: the 16 code counts for lengths 1..16 followed directly by their symbols. Each symbol takes
  // the leftmost free place at its depth (the canonical codes of T.81 Annex C). Null when the codes
  // do not fit in a binary tree. Throws std::bad_alloc only.
  static std::unique_ptr<mxcpcHuffmanTree> Build(const uint8_t* data);

  const Node& NodeAt(int32_t index) const { return nodes_[static_cast<size_t>(index)]; }
  const LookupEntry& Lookup(uint32_t bits) const { return lookup_[bits]; }
  // Walks the tree from the root with the given bits, most significant first; for tests.
  // Returns the symbol, or -1 when the bits lead to the sentinel or end before a leaf.
  int DecodeBits(uint32_t bits, int count) const;

 private:
  mxcpcHuffmanTree();
  bool Insert(int32_t node, int depth, int length, uint8_t symbol);
  void BuildLookup();

  std::vector<Node> nodes_;
  std::array<LookupEntry, 1u << kLookupBits> lookup_{};
};

}  // namespace mxm
