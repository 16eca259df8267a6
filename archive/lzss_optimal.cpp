#include "archive/lzss_optimal.h"

#include <cassert>
#include <cstring>

#include "archive/lzss_codec.h"
#include "core/pools.h"

namespace {

// Keeps 9 bits per byte, the largest cost of a block, inside a u32.
constexpr u32 kLongestBlock = 0x10000000;
constexpr u32 kHeadCount = 0x10000;  // one tree per leading byte pair
constexpr u8 kSkipToken = 0x80;      // token flag: a run equal to the reference

// Finds, for every position, the longest earlier match within the window. Each leading byte pair
// has a binary tree of the positions that start with it, ordered by their next bytes (at most the
// longest match). Inserting a position makes it the root and splits the old tree around it, so
// every node is newer than the nodes below it: a node that has left the window takes only older
// nodes with it when it is cut off, and the search path always passes both neighbours of the new
// key in that order, one of which is the longest match.
//
// Near the end of the block a key runs out of bytes; it then sorts as if a mark above every byte
// value followed, which keeps the order of all keys consistent. Links hold position + window, so
// the zeroed heads (and stale links) read as out of the window.
// Length of the common prefix of a and b from start on, at most limit; reads nothing at or past
// a + limit or b + limit.
inline u32 CommonLength(const u8* a, const u8* b, u32 start, u32 limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (start + 8 <= limit) {
    u64 x, y;
    std::memcpy(&x, a + start, 8);
    std::memcpy(&y, b + start, 8);
    if (x != y) return start + static_cast<u32>(__builtin_ctzll(x ^ y)) / 8;
    start += 8;
  }
#endif
  while (start < limit && a[start] == b[start]) ++start;
  return start;
}

class MatchFinder {
 public:
  MatchFinder(u32* heads, u32* children, const u8* block, u32 blockLength, u32 window, u32 longest)
      : heads_(heads),
        children_(children),
        block_(block),
        blockLength_(blockLength),
        window_(window),
        longest_(longest) {
    std::memset(heads_, 0, kHeadCount * sizeof(u32));
  }

  // Inserts p and returns its longest earlier match (0 when shorter than 2) and that distance.
  u32 Insert(u32 p, u32* distance) {
    const u32 room = blockLength_ - p;
    const u32 limit = room < longest_ ? room : longest_;
    if (limit < 2) return 0;
    const u8* key = block_ + p;
    const u32 head = key[0] | static_cast<u32>(key[1]) << 8;
    u32 link = heads_[head];
    heads_[head] = p + window_;

    const u32 mask = window_ - 1;
    u32* smallerSlot = &children_[2 * (p & mask)];
    u32* largerSlot = smallerSlot + 1;
    u32 smallerCommon = 2, largerCommon = 2;
    u32 best = 0, bestDistance = 0;
    for (;;) {
      const u32 delta = p + window_ - link;
      if (delta >= window_) {
        *smallerSlot = *largerSlot = 0;
        break;
      }
      const u32 q = p - delta;
      u32* pair = &children_[2 * (q & mask)];
      const u8* other = block_ + q;
      const u32 common = CommonLength(
          other, key, smallerCommon < largerCommon ? smallerCommon : largerCommon, limit);
      if (common > best) {
        best = common;
        bestDistance = delta;
      }
      if (common == longest_) {
        // Same key: the nearer position replaces q, which serves no later search better.
        *smallerSlot = pair[0];
        *largerSlot = pair[1];
        break;
      }
      if (common == limit || other[common] < key[common]) {
        *smallerSlot = link;
        smallerSlot = &pair[1];
        link = *smallerSlot;
        smallerCommon = common;
      } else {
        *largerSlot = link;
        largerSlot = &pair[0];
        link = *largerSlot;
        largerCommon = common;
      }
    }
    *distance = bestDistance;
    return best >= 2 ? best : 0;
  }

 private:
  u32* heads_;
  u32* children_;
  const u8* block_;
  u32 blockLength_;
  u32 window_;
  u32 longest_;
};

// Packs tokens most significant bit first into a destination known to be large enough.
class BitPacker {
 public:
  explicit BitPacker(u8* destination) : out_(destination) {}

  void Put(u32 value, unsigned count) {
    assert(count <= 18 && value < (1u << count));
    pending_ = pending_ << count | value;
    pendingBits_ += count;
    while (pendingBits_ >= 8) {
      pendingBits_ -= 8;
      *out_++ = static_cast<u8>(pending_ >> pendingBits_);
    }
  }

  void Finish() {
    if (pendingBits_ > 0) *out_++ = static_cast<u8>(pending_ << (8 - pendingBits_));
    pendingBits_ = 0;
  }

  u8* End() const { return out_; }

 private:
  u8* out_;
  u64 pending_ = 0;
  unsigned pendingBits_ = 0;
};

// The parse's tables, in one allocation (block).
struct ParseTables {
  u8* block;
  u32* heads;     // the match finder's tree roots
  u32* children;  // its links, two per window position
  u32* finish;    // fewest bits that produce [p, end)
  u16* distance;  // of the longest match from p
  u8* token;      // length of that match (0 for none), then the token chosen at p
};

// Tables for a parse of [0, end) with the given window; false when there is no memory for them.
bool AllocateTables(u32 window, u32 end, ParseTables* tables) {
  const size_t headBytes = kHeadCount * sizeof(u32);
  const size_t childBytes = 2 * static_cast<size_t>(window) * sizeof(u32);
  const size_t finishBytes = (static_cast<size_t>(end) + 1) * sizeof(u32);
  const size_t distanceBytes = static_cast<size_t>(end) * sizeof(u16);
  const size_t total = headBytes + childBytes + finishBytes + distanceBytes + end;
  if (total > 0xFFFFFFFFu) return false;
  u8* block = static_cast<u8*>(g_ptrPool->Alloc(static_cast<u32>(total)));
  if (!block) return false;
  tables->block = block;
  tables->heads = reinterpret_cast<u32*>(block);
  tables->children = reinterpret_cast<u32*>(block + headBytes);
  tables->finish = reinterpret_cast<u32*>(block + headBytes + childBytes);
  tables->distance = reinterpret_cast<u16*>(block + headBytes + childBytes + finishBytes);
  tables->token = block + headBytes + childBytes + finishBytes + distanceBytes;
  return true;
}

// The longest earlier match from every position before end into token and distance. Tokens start
// only before end, and only those positions serve as match sources.
void FindLongestMatches(const u8* source, u32 sourceLength, u32 end, u32 window, u32 longest,
                        const ParseTables& tables) {
  MatchFinder finder(tables.heads, tables.children, source, sourceLength, window, longest);
  for (u32 p = 0; p < end; ++p) {
    u32 matchDistance = 0;
    tables.token[p] = static_cast<u8>(finder.Insert(p, &matchDistance));
    tables.distance[p] = static_cast<u16>(matchDistance);
  }
}

// The shortest path over positions: finish[p] = fewest bits that produce [p, end), and the token
// that starts it in token[p] (1 for a literal, else its length, with kSkipToken for a run equal
// to the reference). finish never grows with p (a match from p less its first byte is a match
// from p + 1, and a 2-byte match costs no less than a literal), so the longest match from p is
// always the best match to take there.
void ChooseTokens(const u8* source, u32 sourceLength, u32 end, const u8* reference, u32 longest,
                  u32 matchCost, const ParseTables& tables) {
  u32* const finish = tables.finish;
  u8* const token = tables.token;
  u32 equalRun = 0;  // bytes from p on that equal the reference, at most the longest match
  if (reference) {
    for (u32 p = sourceLength; p-- > end;) {
      equalRun = source[p] == reference[p] ? (equalRun < longest ? equalRun + 1 : longest) : 0;
    }
  }
  finish[end] = 0;
  for (u32 p = end; p-- > 0;) {
    const u32 literal = 9 + finish[p + 1];
    u32 reach = token[p];
    u8 kind = 0;
    if (reference) {
      equalRun = source[p] == reference[p] ? (equalRun < longest ? equalRun + 1 : longest) : 0;
      if (equalRun > reach && equalRun >= 2) {
        reach = equalRun;
        kind = kSkipToken;
      }
    }
    const u32 target = p + reach < end ? p + reach : end;
    if (p > 0 && reach >= 2 && matchCost + finish[target] <= literal) {
      finish[p] = matchCost + finish[target];
      token[p] = static_cast<u8>(reach | kind);
    } else {
      finish[p] = literal;
      token[p] = 1;
    }
  }
}

// Writes the chosen tokens of [0, end); returns the end of the stream.
u8* PackTokens(const u8* source, u32 end, u32 window, u32 lengthBits, u32 matchCost,
               const ParseTables& tables, u8* destination) {
  BitPacker packer(destination);
  for (u32 p = 0; p < end;) {
    const u8 t = tables.token[p];
    if (t == 1) {
      packer.Put(0x100u | source[p], 9);
      ++p;
      continue;
    }
    const u32 length = t & ~kSkipToken;
    const u32 code = (t & kSkipToken) ? 0 : window - tables.distance[p];
    packer.Put(code << lengthBits | (length - 2), matchCost);
    p += length;
  }
  packer.Finish();
  return packer.End();
}

}  // namespace

ErrorCode LzssEncodeBlockOptimal(const u8* source, u32 sourceLength, u8* destination,
                                 u32* capacityAndLength, u8 method, const u8* reference) {
  if (!capacityAndLength || (sourceLength > 0 && !source)) return ERR_BADPARAMS;
  if (!LzssMethodValid(method)) return ERR_NOSUCHBITLENGTHS;
  const u32 capacity = *capacityAndLength;
  if (capacity > 0 && !destination) return ERR_BADPARAMS;
  if (sourceLength > kLongestBlock) return ERR_NOTENOUGHMEM;
  const u32 offsetBits = method >> 4;
  const u32 lengthBits = method & 0x0F;
  const u32 window = 1u << offsetBits;
  const u32 longest = (1u << lengthBits) + 1;
  const u32 matchCost = 1 + offsetBits + lengthBits;

  if (capacity > 0) std::memset(destination, 0, capacity);
  // The reader fills the rest of a block with zeros, so only [0, end) must be produced.
  u32 end = sourceLength;
  while (end > 0 && source[end - 1] == 0) --end;
  if (end == 0) {
    *capacityAndLength = 0;
    return nullptr;
  }

  ParseTables tables = {};
  if (!AllocateTables(window, end, &tables)) return ERR_NOTENOUGHMEM;
  FindLongestMatches(source, sourceLength, end, window, longest, tables);
  ChooseTokens(source, sourceLength, end, reference, longest, matchCost, tables);
  const u32 bits = tables.finish[0];
  const u32 codedLength = bits / 8 + (bits % 8 != 0);
  if (codedLength > capacity) {
    g_ptrPool->Free(tables.block);
    return ERR_BUFFERTOOSMALL;
  }
  const u8* streamEnd = PackTokens(source, end, window, lengthBits, matchCost, tables, destination);
  assert(static_cast<u32>(streamEnd - destination) == codedLength);
  (void)streamEnd;
  g_ptrPool->Free(tables.block);
  *capacityAndLength = codedLength;
  return nullptr;
}
