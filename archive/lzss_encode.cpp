#include <cassert>
#include <cstring>

#include "archive/lzss_codec.h"
#include "core/pools.h"

namespace {

constexpr u16 kNil = 0xFFFF;

// Writes tokens most significant bit first; refuses to pass the capacity.
class BitWriter {
 public:
  BitWriter(u8* destination, u32 limit) : out(destination), capacity(limit) {}

  // value holds count (at most 25) bits, right-aligned.
  bool Put(u32 value, unsigned count) {
    u64 end = bit + count;
    if ((end + 7) / 8 > capacity) return false;
    for (unsigned i = count; i-- > 0;) {
      if ((value >> i) & 1) out[bit >> 3] |= static_cast<u8>(0x80u >> (bit & 7));
      ++bit;
    }
    return true;
  }
  u32 BytesTouched() const { return static_cast<u32>((bit + 7) / 8); }

 private:
  u8* out;
  u32 capacity;
  u64 bit = 0;
};

// Binary search tree over the most recent positions of the block, ordered by the bytes that start
// at each position. The nodes form a ring of kWindow - 1 entries: inserting a position reuses the
// node of the position kWindow - 1 places back, which is unlinked first.
class MatchTree {
 public:
  struct Node {
    u16 parent, left, right;
    u32 position;
  };

  MatchTree(Node* storage, u16 nodeCount, const u8* block)
      : nodes(storage), count(nodeCount), data(block) {
    for (u32 i = 0; i < count; ++i) nodes[i] = Node{kNil, kNil, kNil, 0};
  }

  // Inserts position p (usable length limit) and returns the best earlier match, as length and
  // distance. A node that matches over the whole limit is replaced by p: the nearer copy serves
  // every later position at least as well.
  void Insert(u32 p, u32 limit, u32* bestLength, u32* bestDistance) {
    u16 self = static_cast<u16>(p % count);
    if (p >= count) Unlink(self);
    nodes[self] = Node{kNil, kNil, kNil, p};
    *bestLength = 0;
    *bestDistance = 0;
    if (root == kNil) {
      root = self;
      return;
    }
    u16 smaller = kNil, larger = kNil;
    u32 smallerLength = 0, largerLength = 0;
    u16 node = root;
    const u8* key = data + p;
    for (;;) {
      const u8* other = data + nodes[node].position;
      u32 common = 0;
      while (common < limit && key[common] == other[common]) ++common;
      if (common == limit) {
        Replace(node, self);
        *bestLength = limit;
        *bestDistance = p - nodes[node].position;
        return;
      }
      u16* next;
      if (key[common] < other[common]) {
        larger = node;
        largerLength = common;
        next = &nodes[node].left;
      } else {
        smaller = node;
        smallerLength = common;
        next = &nodes[node].right;
      }
      if (*next == kNil) {
        *next = self;
        nodes[self].parent = node;
        break;
      }
      node = *next;
    }
    u16 best = largerLength >= smallerLength ? larger : smaller;
    if (best == kNil) best = larger != kNil ? larger : smaller;
    *bestLength = largerLength >= smallerLength ? largerLength : smallerLength;
    *bestDistance = p - nodes[best].position;
  }

 private:
  u16* LinkTo(u16 node) {
    u16 parent = nodes[node].parent;
    if (parent == kNil) return &root;
    return nodes[parent].left == node ? &nodes[parent].left : &nodes[parent].right;
  }

  bool InTree(u16 node) const { return node == root || nodes[node].parent != kNil; }

  void Replace(u16 old, u16 with) {
    Node& o = nodes[old];
    nodes[with].parent = o.parent;
    nodes[with].left = o.left;
    nodes[with].right = o.right;
    *LinkTo(old) = with;
    if (o.left != kNil) nodes[o.left].parent = with;
    if (o.right != kNil) nodes[o.right].parent = with;
    o.parent = o.left = o.right = kNil;
  }

  void Unlink(u16 node) {
    if (!InTree(node)) return;
    Node& n = nodes[node];
    u16 with;
    if (n.left == kNil) {
      with = n.right;
    } else if (n.right == kNil) {
      with = n.left;
    } else {
      // The in-order predecessor (rightmost of the left subtree) takes the node's place.
      with = n.left;
      if (nodes[with].right != kNil) {
        while (nodes[with].right != kNil) with = nodes[with].right;
        u16 withParent = nodes[with].parent;
        nodes[withParent].right = nodes[with].left;
        if (nodes[with].left != kNil) nodes[nodes[with].left].parent = withParent;
        nodes[with].left = n.left;
        nodes[n.left].parent = with;
      }
      nodes[with].right = n.right;
      nodes[n.right].parent = with;
    }
    *LinkTo(node) = with;
    if (with != kNil) nodes[with].parent = n.parent;
    n.parent = n.left = n.right = kNil;
  }

  Node* nodes;
  u16 count;
  const u8* data;
  u16 root = kNil;
};

u32 RunLength(const u8* a, const u8* b, u32 limit) {
  u32 n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

ErrorCode LzssEncodeBlock(const u8* source, u32 sourceLength, u8* destination,
                          u32* capacityAndLength, u8 method, const u8* reference) {
  if (!LzssMethodValid(method)) return ERR_NOSUCHBITLENGTHS;
  const unsigned offsetBits = method >> 4;
  const unsigned lengthBits = method & 0x0F;
  const u32 window = 1u << offsetBits;
  const u32 longest = (1u << lengthBits) + 1;
  const u32 capacity = *capacityAndLength;

  std::memset(destination, 0, capacity);
  if (sourceLength == 0) {
    *capacityAndLength = 0;
    return nullptr;
  }
  const u16 nodeCount = static_cast<u16>(window - 1);
  auto* nodes =
      static_cast<MatchTree::Node*>(g_ptrPool->Alloc(nodeCount * sizeof(MatchTree::Node)));
  if (!nodes) return ERR_NOTENOUGHMEM;
  MatchTree tree(nodes, nodeCount, source);
  BitWriter writer(destination, capacity);

  u32 ignoredLength, ignoredDistance;
  tree.Insert(0, 0, &ignoredLength, &ignoredDistance);
  bool fits = writer.Put(0x100u | source[0], 9);
  u32 p = 1;
  while (fits && p < sourceLength) {
    u32 limit = sourceLength - p < longest ? sourceLength - p : longest;
    u32 length, distance;
    tree.Insert(p, limit, &length, &distance);
    u32 code = window - distance;
    if (reference) {
      u32 run = RunLength(source + p, reference + p, limit);
      if (run > length) {
        length = run;
        code = 0;
      }
    }
    if (length >= 2) {
      fits = writer.Put((code << lengthBits) | (length - 2), 1 + offsetBits + lengthBits);
      for (u32 i = 1; i < length; ++i) {
        u32 q = p + i;
        u32 qLimit = sourceLength - q < longest ? sourceLength - q : longest;
        tree.Insert(q, qLimit, &ignoredLength, &ignoredDistance);
      }
      p += length;
    } else {
      fits = writer.Put(0x100u | source[p], 9);
      p += 1;
    }
  }
  g_ptrPool->Free(nodes);
  if (!fits) return ERR_BUFFERTOOSMALL;
  *capacityAndLength = writer.BytesTouched();
  return nullptr;
}
