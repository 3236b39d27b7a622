// Huffman decoding tree: leftmost-free placement per code length and the short-code lookup table.
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
  tree->BuildLookup();
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

void mxcpcHuffmanTree::BuildLookup() {
  for (uint32_t bits = 0; bits < lookup_.size(); ++bits) {
    LookupEntry entry;
    int32_t node = kRoot;
    for (int i = 0; i < kLookupBits; ++i) {
      const bool one = (bits >> (kLookupBits - 1 - i)) & 1u;
      node = one ? nodes_[node].right : nodes_[node].left;
      if (node == kSentinel) break;
      if (nodes_[node].leaf) {
        entry.length = static_cast<uint8_t>(i + 1);
        entry.symbol = nodes_[node].symbol;
        break;
      }
    }
    if (entry.length == 0) entry.node = node;
    lookup_[bits] = entry;
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
