// Huffman decoding tree: leftmost-free placement per code length and the two-level decoding tables.
#include "mxm/mxcpcHuffmanTree.h"

#include <bit>

namespace mxm {

mxcpcHuffmanTree::mxcpcHuffmanTree() : nodes_(2) {}

// Leaves are placed in order of length, each at the leftmost free place of its depth: everything
// left of that place is taken, so the place is the next canonical code of T.81 Annex C and its path
// is followed directly instead of searched for.
std::unique_ptr<mxcpcHuffmanTree> mxcpcHuffmanTree::Build(const uint8_t* data) {
  std::unique_ptr<mxcpcHuffmanTree> tree(new mxcpcHuffmanTree());
  const uint8_t* symbol = data + 16;
  std::vector<Leaf> leaves;
  size_t count = 0;
  for (int i = 0; i < 16; ++i) count += data[i];
  leaves.reserve(count);
  tree->nodes_.reserve(2 * count + 2);  // a complete tree; incomplete ones grow
  uint32_t code = 0;
  int32_t path[17] = {kRoot};  // the nodes on the previous code's path, by depth
  for (int length = 1; length <= 16; ++length, code <<= 1) {
    for (int i = 0; i < data[length - 1]; ++i, ++code) {
      if (code >= (1u << length)) return nullptr;  // no free place left at this depth
      // The previous code's path is shared down to where the two codes first differ.
      int shared = 0;
      if (!leaves.empty()) {
        const Leaf& last = leaves.back();
        const uint32_t differ = (last.code << (length - last.length)) ^ code;  // non-zero: codes increase
        shared = length - std::bit_width(differ);
      }
      tree->Place(code, length, *symbol, shared, path);
      leaves.push_back(Leaf{code, static_cast<uint8_t>(length), *symbol++});
    }
  }
  tree->BuildTables(leaves);
  return tree;
}

// Creates the inner nodes on the code's path below depth `from` (path[from] is the node there) as
// needed, and records the path; a canonical code never passes a leaf and ends on a free place.
void mxcpcHuffmanTree::Place(uint32_t code, int length, uint8_t symbol, int from, int32_t* path) {
  int32_t node = path[from];
  for (int depth = from + 1; depth <= length; ++depth) {
    const bool one = ((code >> (length - depth)) & 1u) != 0;
    int32_t child = one ? nodes_[node].right : nodes_[node].left;
    if (child == kSentinel) {
      Node fresh;
      if (depth == length) {
        fresh.leaf = true;
        fresh.symbol = symbol;
      }
      nodes_.push_back(fresh);
      child = static_cast<int32_t>(nodes_.size() - 1);
      (one ? nodes_[node].right : nodes_[node].left) = child;
    }
    node = child;
    path[depth] = node;
  }
}

// Every pattern that starts with a code decodes to it; the rest (length 0) are the patterns the tree
// walk ends at the sentinel for. A code of up to kLookupBits bits fills its range of the primary table;
// a longer one fills its range of the subtable of its first kLookupBits bits, an inner node of the tree.
// Codes whose value bits follow within kFastBits also fill their range of the combined table.
void mxcpcHuffmanTree::BuildTables(const std::vector<Leaf>& leaves) {
  primary_.fill(0);
  fastAc_.fill(0);
  subtables_.clear();
  uint32_t lastPrefix = ~0u, prefixes = 0;  // leaves come in code order, so equal prefixes are adjacent
  for (const Leaf& leaf : leaves)
    if (leaf.length > kLookupBits && leaf.code >> (leaf.length - kLookupBits) != lastPrefix)
      lastPrefix = leaf.code >> (leaf.length - kLookupBits), ++prefixes;
  subtables_.reserve(static_cast<size_t>(prefixes) << kSubBits);
  for (const Leaf& leaf : leaves) {
    const int size = leaf.symbol & 15;
    if (size <= 10 && leaf.length + size <= kFastBits) {
      // The value bits follow the code inside the same kFastBits (EXTEND, T.81 F.2.2.1); sizes above
      // the baseline AC limit stay out, so that the decoder's check on the slower path catches them.
      const int spare = kFastBits - leaf.length;
      for (uint32_t bits = leaf.code << spare; bits < (leaf.code + 1) << spare; ++bits) {
        int value = 0;
        if (size != 0) {
          const int raw = static_cast<int>((bits >> (spare - size)) & ((1u << size) - 1));
          value = raw >= (1 << (size - 1)) ? raw : raw + 1 - (1 << size);
        }
        fastAc_[bits] = static_cast<int32_t>(static_cast<uint32_t>(value) << 16) | (leaf.symbol << 8) |
                        (size != 0 ? kFastValue : 0) | (leaf.length + size);
      }
    }
    if (leaf.length <= kLookupBits) {
      const int spare = kLookupBits - leaf.length;
      for (uint32_t bits = leaf.code << spare; bits < (leaf.code + 1) << spare; ++bits)
        primary_[bits] = (static_cast<uint32_t>(leaf.length) << 8) | leaf.symbol;
      continue;
    }
    const uint32_t prefix = leaf.code >> (leaf.length - kLookupBits);
    if ((primary_[prefix] & kSubtableFlag) == 0) {
      primary_[prefix] = kSubtableFlag | static_cast<uint32_t>(subtables_.size() >> kSubBits);
      subtables_.resize(subtables_.size() + (1u << kSubBits));
    }
    Code* subtable = &subtables_[(primary_[prefix] & 0xFFFFu) << kSubBits];
    const int spare = 16 - leaf.length;
    const uint32_t rest = leaf.code & ((1u << (leaf.length - kLookupBits)) - 1);
    for (uint32_t bits = rest << spare; bits < (rest + 1) << spare; ++bits) subtable[bits] = Code{leaf.length, leaf.symbol};
  }
}

void mxcpcHuffmanTree::Prefetch() const {
#if defined(__GNUC__) || defined(__clang__)
  for (size_t i = 0; i < sizeof fastAc_; i += 64) __builtin_prefetch(reinterpret_cast<const char*>(fastAc_.data()) + i);
  for (size_t i = 0; i < sizeof primary_; i += 64) __builtin_prefetch(reinterpret_cast<const char*>(primary_.data()) + i);
#endif
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
