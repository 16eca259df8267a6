#include "archive/tarn_match.h"

#include <cstring>

#include "archive/tarn_format.h"
#include "core/pools.h"

namespace {

constexpr u32 kHash2Size = 1u << 16;
constexpr u32 kHash3Bits = 16;

u32 Load32(const u8* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}

u32* AllocateZeroed(u32 count) {
  void* block = g_ptrPool->Alloc(count * 4);
  if (block) std::memset(block, 0, static_cast<size_t>(count) * 4);
  return static_cast<u32*>(block);
}

}  // namespace

TarnMatchFinder::~TarnMatchFinder() {
  g_ptrPool->Free(heads);
  g_ptrPool->Free(heads2);
  g_ptrPool->Free(heads3);
  g_ptrPool->Free(chain);
}

ErrorCode TarnMatchFinder::Init(const u8* bytes, u32 size, u32 reach, const TarnMatchLimits& l) {
  data = bytes;
  end = size;
  limits = l;
  ringSize = reach < size ? reach + 1 : (size ? size : 1);
  // About one head per two positions, between 2^16 and 2^24.
  if (ringSize > 0x3FFFFFFFu) return ERR_NOTENOUGHMEM;
  hashBits = 16;
  while (hashBits < 24 && (1u << (hashBits + 1)) <= size) ++hashBits;
  heads = AllocateZeroed(1u << hashBits);
  heads2 = AllocateZeroed(kHash2Size);
  heads3 = AllocateZeroed(1u << kHash3Bits);
  chain = static_cast<u32*>(g_ptrPool->Alloc(ringSize * 4));
  return heads && heads2 && heads3 && chain ? nullptr : ERR_NOTENOUGHMEM;
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
  if (end - position < 4) return 0;
  const u32 word = Load32(data + position);
  const u32 h2 = word & 0xFFFF;
  const u32 h3 = ((word & 0xFFFFFF) * 0x9E3779B1u) >> (32 - kHash3Bits);
  const u32 h4 = (word * 0x9E3779B1u) >> (32 - hashBits);
  *candidate2 = heads2[h2];
  *candidate3 = heads3[h3];
  const u32 first = heads[h4];
  heads2[h2] = heads3[h3] = heads[h4] = position + 1;
  chain[position % ringSize] = first;
  return first;
}

void TarnMatchFinder::Skip(u32 position) {
  u32 c2, c3;
  Insert(position, &c2, &c3);
}

u32 TarnMatchFinder::Find(u32 position, TarnMatch* out) {
  u32 c2, c3;
  u32 next = Insert(position, &c2, &c3);
  u32 count = 0, best = 1;
  const u32 room = end - position < kTarnMaxMatch ? end - position : kTarnMaxMatch;
  auto consider = [&](u32 candidate) {
    const u32 distance = position - candidate;
    const u32 allowed = Allowed(position, distance);
    if (allowed <= best || data[candidate + best] != data[position + best]) return false;
    const u32 length = Common(position, distance, allowed);
    if (length <= best) return false;
    best = length;
    out[count++] = {length, distance};
    return length >= limits.nice || length == room || count == kMaxMatches;
  };
  if (c2 && consider(c2 - 1)) return count;
  if (c3 && c3 != c2 && consider(c3 - 1)) return count;
  for (u32 depth = limits.depth; next && depth; --depth) {
    const u32 candidate = next - 1;
    if (position - candidate >= ringSize) break;
    if (consider(candidate)) break;
    const u32 older = chain[candidate % ringSize];
    if (older >= next) break;
    next = older;
  }
  return count;
}
