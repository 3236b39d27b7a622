// Huffman decoding tree: leftmost-free placement per code length and the two-level decoding tables.
#include "mxm/mxcpcHuffmanTree.h"

namespace mxm {

mxcpcHuffmanTree::mxcpcHuffmanTree() : nodes_(2) {}

std::unique_ptr<mxcpcHuffmanTree> mxcpcHuffmanTree::Build(const uint8_t* data) {
  std::unique_ptr<mxcpcHuffmanTree> tree(new mxcpcHuffmanTree());
  const uint8_t* symbol = data + 16;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < data[length - 1]; ++i) {
      if (!tree->Insert(kRoot, 0, length, *symbol++)) return nullptr;
    }
  }
  tree->BuildTables();
  return tree;
}

// Places a leaf at `length` below `node` (at `depth`), left subtrees first. At most 16 levels deep.
bool mxcpcHuffmanTree::Insert(int32_t node, int depth, int length, uint8_t symbol) {
  for (int side = 0; side < 2; ++side) {
    int32_t child = side == 0 ? nodes_[node].left : nodes_[node].right;
    if (child != kSentinel && nodes_[child].leaf) continue;  // never descend below a leaf
    if (depth + 1 == length) {
      if (child != kSentinel) continue;  // an inner node already takes this place
      Node leaf;
      leaf.leaf = true;
      leaf.symbol = symbol;
      nodes_.push_back(leaf);
      (side == 0 ? nodes_[node].left : nodes_[node].right) = static_cast<int32_t>(nodes_.size() - 1);
      return true;
    }
    if (child == kSentinel) {
      nodes_.push_back(Node{});
      child = static_cast<int32_t>(nodes_.size() - 1);
      (side == 0 ? nodes_[node].left : nodes_[node].right) = child;
    }
    if (Insert(child, depth + 1, length, symbol)) return true;
  }
  return false;
}

// Walks every kLookupBits-bit pattern down the tree; an inner node reached after all of them gets a
// subtable that walks the remaining bits the same way. Codes are at most 16 bits, so two levels cover
// every path, and a path that meets the sentinel gives length 0 exactly where the walk fails.
void mxcpcHuffmanTree::BuildTables() {
  auto walk = [this](int32_t node, uint32_t bits, int count, int depth, Code& code) {
    for (int i = 0; i < count; ++i) {
      const bool one = (bits >> (count - 1 - i)) & 1u;
      node = one ? nodes_[node].right : nodes_[node].left;
      if (node == kSentinel) return kSentinel;
      if (nodes_[node].leaf) {
        code.length = static_cast<uint8_t>(depth + i + 1);
        code.symbol = nodes_[node].symbol;
        return kSentinel;
      }
    }
    return node;  // still inside the tree
  };
  subtables_.clear();
  for (uint32_t bits = 0; bits < primary_.size(); ++bits) {
    Code code;
    const int32_t inner = walk(kRoot, bits, kLookupBits, 0, code);
    if (inner == kSentinel) {
      primary_[bits] = (static_cast<uint32_t>(code.length) << 8) | code.symbol;
      fastAc_[bits] = 0;
      const int size = code.symbol & 15;
      if (code.length != 0 && size <= 10 && code.length + size <= kLookupBits) {
        // The value bits follow the code inside the same kLookupBits (EXTEND, T.81 F.2.2.1).
        int value = 0;
        if (size != 0) {
          const int raw = static_cast<int>((bits >> (kLookupBits - code.length - size)) & ((1u << size) - 1));
          value = raw >= (1 << (size - 1)) ? raw : raw + 1 - (1 << size);
        }
        fastAc_[bits] = static_cast<int32_t>(static_cast<uint32_t>(value) << 16) | (code.symbol << 8) | (code.length + size);
      }
      continue;
    }
    const uint32_t number = static_cast<uint32_t>(subtables_.size() >> kSubBits);
    fastAc_[bits] = 0;
    primary_[bits] = kSubtableFlag | number;
    for (uint32_t rest = 0; rest < (1u << kSubBits); ++rest) {
      Code longer;
      walk(inner, rest, kSubBits, kLookupBits, longer);
      subtables_.push_back(longer);
    }
  }
}

int mxcpcHuffmanTree::DecodeBits(uint32_t bits, int count) const {
  int32_t node = kRoot;
  for (int i = 0; i < count; ++i) {
    node = ((bits >> (count - 1 - i)) & 1u) ? nodes_[node].right : nodes_[node].left;
    if (node == kSentinel) return -1;
    if (nodes_[node].leaf) return nodes_[node].symbol;
  }
  return -1;
}

}  // namespace mxm
