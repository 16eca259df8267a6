#include "archive/tarn_match.h"

#include <cstring>

#include "archive/tarn_format.h"
#include "core/pools.h"

namespace {

constexpr u32 kHash2Size = 1u << 16;
constexpr u32 kHash3Bits = 16;
// A match of kAnchorStep + kAnchorBytes - 1 bytes covers an anchored window wherever it starts.
constexpr u32 kAnchorStep = 16;
constexpr u32 kAnchorBytes = 16;
// The 4-byte heads outgrow the caches: each search fetches the head of a position this far
// ahead, so that its own head is there when it comes.
constexpr u32 kHeadAhead = 8;

u32 Load32(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}

u64 Load64(const u8* p) {
  u64 v;
  std::memcpy(&v, p, 8);
  return v;
}

u32 AnchorHash(const u8* p, u32 bits) {
  const u64 mixed = (Load64(p) * 0x9E3779B97F4A7C15ull) ^ Load64(p + 8);
  return static_cast<u32>((mixed * 0xC2B2AE3D27D4EB4Full) >> (64 - bits));
}

u32* AllocateZeroed(u32 count) {
  void* block = g_ptrPool->Alloc(count * 4);
  if (block) std::memset(block, 0, static_cast<size_t>(count) * 4);
  return static_cast<u32*>(block);
}

}  // namespace

ErrorCode TarnMatchFinder::Chains::Init(u32 ring, u32 spread, u32 linksPerPosition) {
  ringSize = ring ? ring : 1;
  // About one head per two positions, between 2^16 and 2^24.
  bits = 16;
  while (bits < 24 && (1u << (bits + 1)) <= spread) ++bits;
  heads = AllocateZeroed(1u << bits);
  links = static_cast<u32*>(g_ptrPool->Alloc(ringSize * linksPerPosition * 4));
  return heads && links ? nullptr : ERR_NOTENOUGHMEM;
}

u32 TarnMatchFinder::Chains::SwapHead(u32 position, u32 word) {
  u32& head = Head(word);
  const u32 first = head;
  head = position + 1;
  return first;
}

u32 TarnMatchFinder::Chains::Insert(u32 position, u32 word) {
  const u32 first = SwapHead(position, word);
  links[Slot(position)] = first;
  return first;
}

TarnMatchFinder::~TarnMatchFinder() {
  g_ptrPool->Free(chains.heads);
  g_ptrPool->Free(chains.links);
  g_ptrPool->Free(old.heads);
  g_ptrPool->Free(old.links);
  g_ptrPool->Free(heads2);
  g_ptrPool->Free(heads3);
  g_ptrPool->Free(anchors);
}

ErrorCode TarnMatchFinder::Init(const u8* bytes, u32 size, u32 reach, const TarnMatchLimits& l) {
  data = bytes;
  end = size;
  limits = l;
  limits.binaryTree = l.binaryTree && !l.dictionarySize;  // trees serve a file alone only
  const u32 ring = reach < size ? reach + 1 : size;
  if (ring > 0x3FFFFFFFu) return ERR_NOTENOUGHMEM;
  heads2 = AllocateZeroed(kHash2Size);
  heads3 = AllocateZeroed(1u << kHash3Bits);
  if (!heads2 || !heads3) return ERR_NOTENOUGHMEM;
  split = l.dictionarySize && ring > l.chainPositions;
  ErrorCode error = nullptr;
  if (limits.binaryTree) {
    if (ring > 0x1FFFFFFFu) return ERR_NOTENOUGHMEM;
    error = chains.Init(ring, size, 2);
  } else if (!split) {
    error = chains.Init(ring, size);
  } else {
    const u32 input = size - l.dictionarySize, half = l.chainPositions / 2;
    error = chains.Init(input < half ? input : half, input < half ? input : half);
    if (!error) error = old.Init(half, half);
  }
  if (error) return error;
  const u32 count = l.dictionarySize / kAnchorStep;
  if (count < 2) return nullptr;
  anchorBits = 2;
  while ((1u << anchorBits) < count) ++anchorBits;
  anchors = AllocateZeroed(1u << anchorBits);
  if (!anchors) return ERR_NOTENOUGHMEM;
  // Two slots per hash: a window whose slot another window took keeps its anchor in the other.
  for (u32 at = 0; at + kAnchorBytes <= l.dictionarySize; at += kAnchorStep) {
    u32* pair = anchors + (AnchorHash(data + at, anchorBits) & ~1u);
    pair[pair[0] && !pair[1]] = at + 1;
  }
  return nullptr;
}

// Keeps the stretch of a large dictionary in the chains centred on the input's position, where
// a delta's old bytes most likely lie.
void TarnMatchFinder::AdvanceOld(u32 position) {
  const u32 offset = position > limits.dictionarySize ? position - limits.dictionarySize : 0;
  const u32 lead = old.ringSize / 2;
  u32 target = limits.dictionarySize - offset > lead ? offset + lead : limits.dictionarySize;
  if (target > end - 3) target = end - 3;
  for (; oldInserted < target; ++oldInserted) old.Insert(oldInserted, Load32(data + oldInserted));
}

// Notes the anchors' distances for each window from position up to kAnchorStep - 1 on that no
// earlier search looked up: a window is looked up once, and only where matches are searched.
void TarnMatchFinder::LookAhead(u32 position) {
  u32 at = lookedUpTo > position ? lookedUpTo : position;
  lookedUpTo = position + kAnchorStep;
  for (; at < lookedUpTo; ++at) {
    u32* distances = ahead[at % kAnchorStep];
    distances[0] = distances[1] = 0;
    if (at > end || end - at < kAnchorBytes) continue;
    const u32* pair = anchors + (AnchorHash(data + at, anchorBits) & ~1u);
    for (u32 i = 0; i < 2; ++i)
      if (pair[i]) distances[i] = at - (pair[i] - 1);
  }
}

u32 TarnMatchFinder::Allowed(u32 position, u32 distance, u32 cap) const {
  if (distance == 0 || distance > position) return 0;
  u32 room = end - position;
  if (room > cap) room = cap;
  const u32 source = position - distance;
  if (position < limits.dictionarySize) return 0;
  if (distance <= limits.window) return room;
  if (source >= limits.dictionarySize) return 0;
  const u32 inDictionary = limits.dictionarySize - source;
  return inDictionary < room ? inDictionary : room;
}

u32 TarnMatchFinder::Common(u32 position, u32 distance, u32 limit) const {
  const u8* a = data + position;
  const u8* b = a - distance;
  u32 length = 0;
  while (limit - length >= 8) {
    u64 x, y;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    if (x != y) return length + static_cast<u32>(__builtin_ctzll(x ^ y) >> 3);
    length += 8;
  }
  while (length < limit && a[length] == b[length]) ++length;
  return length;
}

u32 TarnMatchFinder::Insert(u32 position, u32* candidate2, u32* candidate3) {
  *candidate2 = *candidate3 = 0;
  if (split) AdvanceOld(position);
  if (end - position < 4 || (split && position < limits.dictionarySize)) return 0;
  const u32 word = Load32(data + position);
  const u32 h2 = word & 0xFFFF;
  const u32 h3 = ((word & 0xFFFFFF) * 0x9E3779B1u) >> (32 - kHash3Bits);
  if (end - position >= kHeadAhead + 4)
    __builtin_prefetch(&chains.Head(Load32(data + position + kHeadAhead)), 1);
  *candidate2 = heads2[h2];
  *candidate3 = heads3[h3];
  heads2[h2] = heads3[h3] = position + 1;
  if (!limits.binaryTree) return chains.Insert(position, word);
  return chains.SwapHead(position, word);
}

u32 TarnMatchFinder::TreeInsert(u32 position, u32 root, TarnMatch* out, u32 count, u32* best) {
  const u32 ring = chains.ringSize;
  const u32 room = end - position < kTarnMaxMatch ? end - position : kTarnMaxMatch;
  // Bytes past the limit are not compared: a node that agrees up to it gives its place to the
  // new position, so the tree holds the nearest of the positions it cannot tell apart.
  const u32 limit = room < limits.nice ? room : limits.nice;
  u32* smaller = chains.links + 2 * chains.Slot(position);  // where the next smaller node hangs
  u32* larger = smaller + 1;
  u32 smallerLength = 0, largerLength = 0;  // bytes every node below them shares
  for (u32 node = root, depth = limits.depth;; --depth) {
    if (!node || position - (node - 1) >= ring || !depth) {
      *smaller = *larger = 0;  // what lies below is out of reach, or not worth the search
      return count;
    }
    const u32 candidate = node - 1;
    u32* pair = chains.links + 2 * chains.Slot(candidate);
    u32 length = smallerLength < largerLength ? smallerLength : largerLength;
    length += Common(position + length, position - candidate, limit - length);
    if (out && length > *best) {
      *best = length;
      if (count == kMaxMatches) --count;
      out[count++] = {length, position - candidate};
    }
    if (length == limit) {
      *smaller = pair[0];
      *larger = pair[1];
      return count;
    }
    if (data[candidate + length] < data[position + length]) {
      *smaller = node;
      smaller = pair + 1;
      node = pair[1];
      smallerLength = length;
    } else {
      *larger = node;
      larger = pair;
      node = pair[0];
      largerLength = length;
    }
  }
}

void TarnMatchFinder::Skip(u32 position) {
  u32 c2, c3, best = 0;
  const u32 root = Insert(position, &c2, &c3);
  if (limits.binaryTree && end - position >= 4) TreeInsert(position, root, nullptr, 0, &best);
}

u32 TarnMatchFinder::Find(u32 position, TarnMatch* out) {
  u32 c2, c3;
  u32 next = Insert(position, &c2, &c3);
  u32 count = 0, best = 1;
  const u32 room = end - position < kTarnMaxMatch ? end - position : kTarnMaxMatch;
  auto consider = [&](u32 distance) {
    const u32 allowed = Allowed(position, distance);
    if (allowed <= best || data[position - distance + best] != data[position + best]) return false;
    const u32 length = Common(position, distance, allowed);
    if (length <= best) return false;
    best = length;
    out[count++] = {length, distance};
    return length >= limits.nice || length == room || count == kMaxMatches;
  };
  if (limits.binaryTree) {
    if (c2) consider(position - (c2 - 1));
    if (c3 && c3 != c2) consider(position - (c3 - 1));
    if (end - position < 4) return count;
    count = TreeInsert(position, next, out, count, &best);
    // The tree compares no further than the nice length: the longest match may go on.
    if (count == 0 || out[count - 1].length < limits.nice) return count;
    TarnMatch& last = out[count - 1];
    const u32 allowed = Allowed(position, last.distance);
    if (last.length < allowed)
      last.length += Common(position + last.length, last.distance, allowed - last.length);
    return count;
  }
  if (c2 && consider(position - (c2 - 1))) return count;
  if (c3 && c3 != c2 && consider(position - (c3 - 1))) return count;
  // Follows a chain whose newest position is latest; true when the search is over.
  auto walk = [&](const Chains& c, u32 link, u32 latest) {
    for (u32 depth = limits.depth; link && depth; --depth) {
      const u32 candidate = link - 1;
      if (latest - candidate >= c.ringSize) break;
      if (consider(position - candidate)) return true;
      const u32 older = c.links[c.Slot(candidate)];
      if (older >= link) break;
      link = older;
    }
    return false;
  };
  if (walk(chains, next, position)) return count;
  if (split && end - position >= 4 && oldInserted &&
      walk(old, old.Head(Load32(data + position)), oldInserted - 1))
    return count;
  // Far matches the chains do not reach or did not get to; only longer ones join the list.
  if (!anchors || position < limits.dictionarySize) return count;
  LookAhead(position);
  for (u32 i = 0, last = 0; i < 2 * kAnchorStep; ++i) {
    const u32 distance = ahead[(position + i / 2) % kAnchorStep][i % 2];
    if (distance && distance != last && consider(distance)) break;
    last = distance;
  }
  return count;
}
