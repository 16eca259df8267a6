#include <cassert>
#include <cstring>

#include "archive/lzss_codec.h"
#include "core/byte_order.h"
#include "core/pools.h"

namespace {

constexpr u16 kNil = 0xFFFF;

// Writes tokens most significant bit first into a zeroed destination; refuses to pass the
// capacity.
class BitWriter {
 public:
  BitWriter(u8* destination, u32 limit) : out(destination), capacity(limit) {}

  // value holds count (at most 25) bits, right-aligned.
  bool Put(u32 value, unsigned count) {
    assert(count >= 1 && count <= 25);
    const u64 end = bit + count;
    const u64 endByte = (end + 7) / 8;
    if (endByte > capacity) return false;
    const u32 at = static_cast<u32>(bit >> 3);
    const u32 bits = value << (32 - count) >> (bit & 7);  // the token's bits from the byte at
    out[at] |= static_cast<u8>(bits >> 24);
    for (u32 i = 1; at + i < endByte; ++i) out[at + i] = static_cast<u8>(bits >> (24 - 8 * i));
    bit = end;
    return true;
  }
  u32 BytesTouched() const { return static_cast<u32>((bit + 7) / 8); }

 private:
  u8* out;
  u32 capacity;
  u64 bit = 0;
};

// Keeps the compiler from knowing what value holds, so that selections made with it stay
// branch-free.
inline void OpaqueToCompiler(u32& value) {
#if defined(__GNUC__)
  __asm__("" : "+r"(value));
#else
  (void)value;
#endif
}

struct Comparison {
  u32 common;
  u32 after;
};

// How far key and other agree from index `from` on, at most limit, and whether key orders after
// other (meaningful below limit). key has `room` bytes readable; other lies before it in the same
// block.
inline Comparison Compare(const u8* key, const u8* other, u32 from, u32 limit, u32 room) {
  u32 n = from;
  while (n < limit && room - n >= 8) {
    // Read most significant byte first, the words order as their bytes do.
    const u64 x = LoadBigEndian64(key + n);
    const u64 y = LoadBigEndian64(other + n);
    if (x != y) {
      n += static_cast<u32>(__builtin_clzll(x ^ y)) >> 3;
      return n < limit ? Comparison{n, x > y} : Comparison{limit, 0};
    }
    n += 8;
  }
  while (n < limit && key[n] == other[n]) ++n;
  if (n >= limit) return Comparison{limit, 0};
  return Comparison{n, key[n] > other[n]};
}

// Binary search trees over the most recent positions of the block, ordered by the bytes that
// start at each position. Positions are spread over kRoots trees by a hash of their first two
// bytes: every candidate for a match of two bytes or more lies in the key's own tree, where its
// nearest neighbours with such matches are those of one tree over all positions. So the matches
// found are those of one tree, with far shorter descents; only in a block's last bytes, where
// several nodes can match over the whole usable length, may another of them be taken. The nodes
// form a ring of kWindow - 1 entries: inserting a position reuses the node of the position
// kWindow - 1 places back, which is unlinked first.
class MatchTree {
 public:
  static constexpr u32 kRoots = 16384;

  // A node's position is not stored: node i holds the latest position before p that leaves
  // remainder i when divided by the node count, so its distance from p follows from i.
  struct Node {
    u16 parent;
    u16 child[2];  // [0] orders before the node, [1] after
    u16 root;      // the tree it belongs to
  };

  // rootStorage holds kRoots entries; block has `length` bytes.
  MatchTree(Node* storage, u16 nodeCount, u16* rootStorage, const u8* block, u32 length)
      : nodes(storage), count(nodeCount), roots(rootStorage), data(block), size(length) {
    for (u32 i = 0; i < count; ++i) nodes[i] = Node{kNil, {kNil, kNil}, 0};
    for (u32 i = 0; i < kRoots; ++i) roots[i] = kNil;
  }

  // Inserts position p (usable length limit, at least 2) and returns the best earlier match, as
  // length and distance. A node that matches over the whole limit is replaced by p: the nearer copy
  // serves every later position at least as well.
  // self is p's node, p % count (positions come in order, so the caller counts it round).
  void Insert(u32 p, u16 self, u32 limit, u32* bestLength, u32* bestDistance) {
    Descent d{};
    if (!Begin(&d, p, self, limit)) {
      *bestLength = 0;
      *bestDistance = 0;
      return;
    }
    while (!Step(&d)) {
    }
    *bestLength = d.bestLength;
    *bestDistance = d.bestDistance;
  }

  // Inserts p and p + 1 (nodes self and the next), whose best matches nobody asks for. When the
  // two insertions touch different trees their descents run side by side, one's memory waits
  // hidden behind the other's work; the trees end as one insertion after the other leaves them.
  void InsertTwo(u32 p, u16 self, u32 limit, u16 nextSelf, u32 nextLimit) {
    const u16 root = RootOf(p);
    // The second insertion first unlinks its ring node: that must not change the first one's tree.
    const bool apart = root != RootOf(p + 1) &&
                       !(p + 1 >= count && InTree(nextSelf) && nodes[nextSelf].root == root);
    if (!apart) {
      u32 ignoredLength, ignoredDistance;
      Insert(p, self, limit, &ignoredLength, &ignoredDistance);
      Insert(p + 1, nextSelf, nextLimit, &ignoredLength, &ignoredDistance);
      return;
    }
    Descent a{}, b{};
    bool aDone = !Begin(&a, p, self, limit);
    bool bDone = !Begin(&b, p + 1, nextSelf, nextLimit);
    while (!aDone && !bDone) {
      aDone = Step(&a);
      bDone = Step(&b);
    }
    while (!aDone) aDone = Step(&a);
    while (!bDone) bDone = Step(&b);
  }

 private:
  // One insertion's walk down its tree.
  struct Descent {
    const u8* key;
    u32 limit, room;
    u16 self, node;
    // The last nodes passed that order before (smaller) and after (larger) the key. Every node
    // below them shares with the key at least the shorter of their two common lengths.
    u16 smaller, larger;
    u32 smallerLength, largerLength;
    u32 bestLength, bestDistance;
  };

  // Unlinks self's earlier position and puts p in self; false when p starts an empty tree (no
  // descent then).
  bool Begin(Descent* d, u32 p, u16 self, u32 limit) {
    assert(limit >= 2 && p + limit <= size && self == p % count);
    if (p >= count) Unlink(self);
    const u16 root = RootOf(p);
    nodes[self] = Node{kNil, {kNil, kNil}, root};
    if (roots[root] == kNil) {
      roots[root] = self;
      return false;
    }
    *d = Descent{data + p, limit, size - p, self, roots[root], kNil, kNil, 0, 0, 0, 0};
    return true;
  }

  // Compares the key with one node and moves on; true when the descent has ended.
  bool Step(Descent* d) {
    const u16 node = d->node;
    const Node& at = nodes[node];
    const u16 before = at.child[0], behind = at.child[1];
    const u32 known = d->smallerLength < d->largerLength ? d->smallerLength : d->largerLength;
    const u32 distance = Distance(d->self, node);
    const Comparison c = Compare(d->key, d->key - distance, known, d->limit, d->room);
    if (c.common == d->limit) {
      d->bestLength = d->limit;
      d->bestDistance = distance;
      Replace(node, d->self);
      return true;
    }
    // Chosen by masks, not branches: which side a node falls on is a coin toss.
    u32 after = 0u - c.after;
    OpaqueToCompiler(after);
    d->smaller = static_cast<u16>((node & after) | (d->smaller & ~after));
    d->smallerLength = (c.common & after) | (d->smallerLength & ~after);
    d->larger = static_cast<u16>((d->larger & after) | (node & ~after));
    d->largerLength = (d->largerLength & after) | (c.common & ~after);
    const u16 next = static_cast<u16>((behind & after) | (before & ~after));
    if (next != kNil) {
      d->node = next;
      return false;
    }
    nodes[node].child[c.after] = d->self;
    nodes[d->self].parent = node;
    const bool largerWins = d->largerLength >= d->smallerLength;
    u16 best = largerWins ? d->larger : d->smaller;
    if (best == kNil) best = d->larger != kNil ? d->larger : d->smaller;
    d->bestLength = largerWins ? d->largerLength : d->smallerLength;
    d->bestDistance = Distance(d->self, best);
    return true;
  }

  // How far back from the position of node self lies the position of node other.
  u32 Distance(u16 self, u16 other) const {
    return static_cast<u32>(self) - other + (other > self ? count : 0u);
  }

  u16 RootOf(u32 position) const {
    return static_cast<u16>((static_cast<u32>(data[position]) << 6 ^ data[position + 1]) &
                            (kRoots - 1));
  }

  u16* LinkTo(u16 node) {
    const u16 parent = nodes[node].parent;
    if (parent == kNil) return &roots[nodes[node].root];
    return &nodes[parent].child[nodes[parent].child[0] == node ? 0 : 1];
  }

  bool InTree(u16 node) const {
    return nodes[node].parent != kNil || roots[nodes[node].root] == node;
  }

  void Replace(u16 old, u16 with) {
    Node& o = nodes[old];
    nodes[with].parent = o.parent;
    nodes[with].child[0] = o.child[0];
    nodes[with].child[1] = o.child[1];
    *LinkTo(old) = with;
    if (o.child[0] != kNil) nodes[o.child[0]].parent = with;
    if (o.child[1] != kNil) nodes[o.child[1]].parent = with;
    o.parent = o.child[0] = o.child[1] = kNil;
  }

  void Unlink(u16 node) {
    if (!InTree(node)) return;
    Node& n = nodes[node];
    u16 with;
    if (n.child[0] == kNil) {
      with = n.child[1];
    } else if (n.child[1] == kNil) {
      with = n.child[0];
    } else {
      // The in-order predecessor (rightmost of the left subtree) takes the node's place.
      with = n.child[0];
      if (nodes[with].child[1] != kNil) {
        while (nodes[with].child[1] != kNil) with = nodes[with].child[1];
        const u16 withParent = nodes[with].parent;
        nodes[withParent].child[1] = nodes[with].child[0];
        if (nodes[with].child[0] != kNil) nodes[nodes[with].child[0]].parent = withParent;
        nodes[with].child[0] = n.child[0];
        nodes[n.child[0]].parent = with;
      }
      nodes[with].child[1] = n.child[1];
      nodes[n.child[1]].parent = with;
    }
    *LinkTo(node) = with;
    if (with != kNil) nodes[with].parent = n.parent;
    n.parent = n.child[0] = n.child[1] = kNil;
  }

  Node* nodes;
  u16 count;
  u16* roots;
  const u8* data;
  u32 size;
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
  auto* nodes = static_cast<MatchTree::Node*>(
      g_ptrPool->Alloc(nodeCount * sizeof(MatchTree::Node) + MatchTree::kRoots * sizeof(u16)));
  if (!nodes) return ERR_NOTENOUGHMEM;
  MatchTree tree(nodes, nodeCount, reinterpret_cast<u16*>(nodes + nodeCount), source, sourceLength);
  BitWriter writer(destination, capacity);

  // A position with fewer than two bytes left can start no match, neither now nor later.
  u16 slot = 0;  // the node of the next position to insert
  auto limitAt = [&](u32 q) { return sourceLength - q < longest ? sourceLength - q : longest; };
  auto insert = [&](u32 q, u32* length, u32* distance) {
    const u32 limit = limitAt(q);
    *length = 0;
    *distance = 0;
    if (limit >= 2) tree.Insert(q, slot, limit, length, distance);
    slot = static_cast<u16>(slot + 1 == nodeCount ? 0 : slot + 1);
    return limit;
  };
  u32 ignoredLength, ignoredDistance;
  insert(0, &ignoredLength, &ignoredDistance);
  bool fits = writer.Put(0x100u | source[0], 9);
  u32 p = 1;
  while (fits && p < sourceLength) {
    u32 length, distance;
    const u32 limit = insert(p, &length, &distance);
    u32 code = window - distance;
    if (reference) {
      const u32 run = RunLength(source + p, reference + p, limit);
      if (run > length) {
        length = run;
        code = 0;
      }
    }
    if (length >= 2) {
      fits = writer.Put((code << lengthBits) | (length - 2), 1 + offsetBits + lengthBits);
      // The positions the match covers go in two at a time; their own matches are not needed.
      u32 i = 1;
      for (; i + 1 < length && sourceLength - (p + i + 1) >= 2; i += 2) {
        const u32 q = p + i;
        const u16 next = static_cast<u16>(slot + 1 == nodeCount ? 0 : slot + 1);
        tree.InsertTwo(q, slot, limitAt(q), next, limitAt(q + 1));
        slot = static_cast<u16>(next + 1 == nodeCount ? 0 : next + 1);
      }
      for (; i < length; ++i) insert(p + i, &ignoredLength, &ignoredDistance);
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
