#include <cassert>
#include <cstring>
#include <type_traits>

#include "archive/lzss_codec.h"
#include "core/byte_order.h"

bool LzssMethodValid(u8 method) {
  u8 offsetBits = method >> 4;
  u8 lengthBits = method & 0x0F;
  return offsetBits >= 10 && offsetBits <= 12 && lengthBits >= 1 && lengthBits <= 5;
}

namespace {

// The 32 bits that start at source[index], most significant byte first, with zeros for bytes at
// or past the end. The decoder stops before index reaches sourceLength, so index < length.
inline u32 FetchWord(const u8* source, u32 length, u32 index) {
  if (length - index >= 4) {
    return static_cast<u32>(source[index]) << 24 | static_cast<u32>(source[index + 1]) << 16 |
           static_cast<u32>(source[index + 2]) << 8 | source[index + 3];
  }
  u32 word = 0;
  for (u32 i = 0; i < 4; ++i) {
    word <<= 8;
    if (index + i < length) word |= source[index + i];
  }
  return word;
}

inline void Copy8(u8* to, const u8* from) {
  u64 v;
  std::memcpy(&v, from, 8);
  std::memcpy(to, &v, 8);
}

// A match from 1 to 7 bytes back repeats a pattern that a word copy would miss. The first word
// goes four bytes at a time from where the pattern already stands; the rest, as wild word writes
// up to kReach, from a whole number of patterns back that is at least a word.
template <u32 kReach>
inline void CopyOverlapping(u8* to, u32 distance) {
  static const u8 kSecondHalf[8] = {0, 1, 2, 1, 4, 4, 4, 4};  // where bytes 4..7 come from
  static const u8 kRepeat[8] = {0, 9, 8, 9, 8, 10, 12, 14};   // the back distance for the rest
  assert(distance >= 1 && distance < 8);
  const u8* from = to - distance;
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
  to[3] = from[3];
  u32 word;
  std::memcpy(&word, from + kSecondHalf[distance], 4);
  std::memcpy(to + 4, &word, 4);
  for (u32 i = 8; i < kReach; i += 8) Copy8(to + i, to + i - kRepeat[distance]);
}

// Calls step kCount times, unrolled, while it succeeds.
template <u32 kCount, typename Step>
inline __attribute__((always_inline)) bool Repeat(Step& step) {
  if constexpr (kCount == 0) {
    return true;
  } else {
    if (!step()) return false;
    return Repeat<kCount - 1>(step);
  }
}

// Puts back the original bytes of [out, backedUp) that wild writes may have spoiled.
template <u32 kRing>
void PutBackSpoiled(u8* destination, u32 out, u32 backedUp, const u8* ring) {
  for (u32 i = out; i < backedUp; ++i) destination[i] = ring[i % kRing];
}

// The matches the fast loop leaves out of its straight path, kept out of line so that path stays
// short: a skip and a copy from before the block put the spoiled bytes back first (the second then
// fails: false), a copy from less than a word back repeats its pattern.
template <u32 kReach, u32 kRing>
__attribute__((noinline)) bool TakeRareMatch(u8* destination, u32 out, u32 backedUp, const u8* ring,
                                             u32 distance, bool skip) {
  if (skip || distance > out) {
    PutBackSpoiled<kRing>(destination, out, backedUp, ring);
    return skip;
  }
  CopyOverlapping<kReach>(destination + out, distance);
  return true;
}

// The plain decoder: one token at a time from bit position `bit` with `out` bytes produced, every
// write exact. It finishes blocks that the fast loop leaves near their ends, and decodes layouts
// the fast loop does not take.
template <unsigned kOffsetBits, unsigned kLengthBits>
ErrorCode DecodeTokens(const u8* source, u32 sourceLength, u8* destination, u32 capacity, u64 bit,
                       u32 out, u32* produced) {
  constexpr u32 kWindow = 1u << kOffsetBits;
  constexpr unsigned kMatchBits = 1 + kOffsetBits + kLengthBits;
  static_assert(kMatchBits + 7 <= 32, "a token must fit the fetch window after the bit offset");

  const u64 lastByte = sourceLength - 1;
  for (;;) {
    u32 index = static_cast<u32>(bit >> 3);
    u32 window = FetchWord(source, sourceLength, index) << (bit & 7);
    if (window & 0x80000000u) {
      if (out >= capacity) return ERR_INVALIDFORMAT;
      destination[out++] = static_cast<u8>(window >> 23);
      bit += 9;
    } else {
      u32 distanceCode = (window >> (31 - kOffsetBits)) & (kWindow - 1);
      u32 length = ((window >> (31 - kOffsetBits - kLengthBits)) & ((1u << kLengthBits) - 1)) + 2;
      bit += kMatchBits;
      if (length > capacity - out) return ERR_INVALIDFORMAT;
      if (distanceCode != 0) {
        u32 distance = kWindow - distanceCode;
        if (distance > out) return ERR_INVALIDFORMAT;
        const u8* from = destination + out - distance;
        u8* to = destination + out;
        for (u32 i = 0; i < length; ++i) to[i] = from[i];
      }
      out += length;
    }
    if ((bit >> 3) >= lastByte) break;
  }
  *produced = out;
  return nullptr;
}

// The fast loop: a 64-bit big-endian bit buffer refilled once per group of tokens (unrolled),
// literals and matches handled by the same branch-free steps, and every token written with whole
// words or a fixed number of bytes that may run past its end ("wild" writes, at most kReach bytes
// from where it starts). Those writes never reach the capacity, nor the byte that holds the next
// unread bit, so in-place decoding reads exactly what the plain decoder would. The bytes a wild
// write spoils are backed up first (a ring of the positions just ahead of the output, filled a
// segment at a time) and put back wherever they could be seen: before a skip, before the plain
// decoder takes over, at the end and on failure.
template <unsigned kOffsetBitsOf, unsigned kLengthBitsOf>
struct FastLoop {
  static constexpr unsigned kOffsetBits = kOffsetBitsOf;
  static constexpr unsigned kLengthBits = kLengthBitsOf;
  static constexpr u32 kWindow = 1u << kOffsetBits;
  static constexpr unsigned kMatchBits = 1 + kOffsetBits + kLengthBits;
  static constexpr u32 kLongest = (1u << kLengthBits) + 1;
  static constexpr u32 kReach = (kLongest + 7) / 8 * 8;  // bytes one token may write
  // Matches of at most 5 bytes copy byte by byte, which is right for any overlap and cheaper than
  // leaving the straight path for the many short repeats these methods code.
  static constexpr bool kByteCopy = kLongest <= 5;
  static constexpr u32 kGroup = 56 / kMatchBits;  // tokens per refill of at least 56 bits
  static constexpr u32 kGroupReach = kGroup * kReach;
  static constexpr u32 kSegment = 512;  // bytes backed up at a time
  static constexpr u32 kRing = 1024;
  static_assert(kGroup >= 3 && kSegment + kGroupReach <= kRing, "ring too small");
};

// Where the fast loop stands between groups of tokens.
struct FastState {
  const u8* in;           // next byte to load
  u64 bits = 0;           // unread bits, the next one at the top
  unsigned buffered = 0;  // how many; (in - source) * 8 - buffered is the next unread bit
  u32 out = 0;
  u32 backedUp = 0;  // [out, backedUp) have their original bytes in ring; the rest are untouched

  u64 NextBit(const u8* source) const { return u64{static_cast<u32>(in - source)} * 8 - buffered; }
};

// Where the source lies in the destination's range (in-place decoding), writes must stay below
// the next unread source byte: *offset is the source's offset there, else beyond any block. A
// source that starts before the destination and reaches into it is left to the plain decoder:
// false.
inline bool FindSourceOffset(const u8* source, u32 sourceLength, const u8* destination,
                             u32 capacity, u64* offset) {
  const uintptr_t sourceAt = reinterpret_cast<uintptr_t>(source);
  const uintptr_t destinationAt = reinterpret_cast<uintptr_t>(destination);
  *offset = ~u64{0} >> 1;
  if (sourceAt >= destinationAt && sourceAt - destinationAt < capacity) {
    *offset = sourceAt - destinationAt;
  } else if (sourceAt < destinationAt && destinationAt - sourceAt < sourceLength) {
    return false;
  }
  return true;
}

// Backs up the next segment ahead of the output, up to the capacity and the next unread source
// byte (at sourceEnd in the destination). False when a group's wild writes would not fit there:
// the plain decoder takes over.
template <typename L>
inline __attribute__((always_inline)) bool BackUpAhead(const u8* destination, u32 capacity,
                                                       u64 sourceEnd, FastState& s, u8* ring) {
  u64 limit = sourceEnd < capacity ? sourceEnd : capacity;
  if (limit > u64{s.out} + L::kSegment) limit = s.out + L::kSegment;
  if (s.out + L::kGroupReach > limit) return false;
  if (s.backedUp < s.out) s.backedUp = s.out;
  while (s.backedUp < limit) {
    const u32 at = s.backedUp % L::kRing;
    const u32 piece = static_cast<u32>(limit - s.backedUp) < L::kRing - at
                          ? static_cast<u32>(limit - s.backedUp)
                          : L::kRing - at;
    std::memcpy(ring + at, destination + s.backedUp, piece);
    s.backedUp += piece;
  }
  return true;
}

// One token from the top of the bit buffer. kNear: the output does not hold a whole window yet,
// so a match may also reach back before the block, which fails (false).
template <typename L, bool kNear>
inline __attribute__((always_inline)) bool FastToken(u8* destination, FastState& s,
                                                     const u8* ring) {
  const u32 literal = static_cast<u32>(s.bits >> 63);
  const u32 match = literal - 1;  // all ones for a match, zero for a literal
  const u32 code = static_cast<u32>(s.bits >> (63 - L::kOffsetBits)) & (L::kWindow - 1);
  const u32 length = (static_cast<u32>(s.bits >> (63 - L::kOffsetBits - L::kLengthBits)) &
                      ((1u << L::kLengthBits) - 1)) +
                     2;
  // Out of the straight path: a skip (code 0) and, for word copies, a copy from less than a
  // word back; near the start also a copy from before the block.
  bool rare = ((code - 1) & match) >= (L::kByteCopy ? L::kWindow - 1 : L::kWindow - 8);
  if constexpr (kNear) rare |= (literal ^ 1) & (L::kWindow - code > s.out);
  if (__builtin_expect(rare, 0)) {
    if (!TakeRareMatch<L::kReach, L::kRing>(destination, s.out, s.backedUp, ring, L::kWindow - code,
                                            code == 0))
      return false;
    s.bits <<= L::kMatchBits;
    s.buffered -= L::kMatchBits;
    s.out += length;
    return true;
  }
  // Branch-free: a literal copies junk from the front of the block, then its byte goes
  // first; a match puts that byte where its own junk lies, past its end.
  u8* to = destination + s.out;
  const u8* from = destination + ((s.out + code - L::kWindow) & match);
  if constexpr (L::kByteCopy) {
    for (u32 i = 0; i < L::kLongest; ++i) to[i] = from[i];
  } else {
    for (u32 i = 0; i < L::kReach; i += 8) Copy8(to + i, from + i);
  }
  to[(L::kReach - 1) & match] = static_cast<u8>(s.bits >> 55);
  const unsigned used = 9 + ((L::kMatchBits - 9) & match);
  s.out += 1 + ((length - 1) & match);
  s.bits <<= used;
  s.buffered -= used;
  return true;
}

// The group of tokens one refill holds, unrolled.
template <typename L>
inline __attribute__((always_inline)) bool FastGroup(u8* destination, FastState& s,
                                                     const u8* ring) {
  if (s.out < L::kWindow) {
    auto step = [&]() __attribute__((always_inline)) {
      return FastToken<L, true>(destination, s, ring);
    };
    return Repeat<L::kGroup>(step);
  }
  auto step = [&]() __attribute__((always_inline)) {
    return FastToken<L, false>(destination, s, ring);
  };
  return Repeat<L::kGroup>(step);
}

template <unsigned kOffsetBits, unsigned kLengthBits>
ErrorCode DecodeBlock(const u8* source, u32 sourceLength, u8* destination, u32 capacity,
                      u32* produced) {
  using L = FastLoop<kOffsetBits, kLengthBits>;
  u64 sourceOffset = 0;
  if (!FindSourceOffset(source, sourceLength, destination, capacity, &sourceOffset)) {
    return DecodeTokens<kOffsetBits, kLengthBits>(source, sourceLength, destination, capacity, 0, 0,
                                                  produced);
  }
  // The fast loop stops while at least 9 source bytes lie ahead of its next load: its loads stay
  // inside the source, and the stop rule (the next unread bit in the last byte) cannot trigger
  // inside it. The plain decoder takes the rest.
  const u8* const lastLoad = sourceLength >= 9 ? source + sourceLength - 9 : nullptr;
  FastState s{source};
  u8 ring[L::kRing];
  while (lastLoad && s.in <= lastLoad) {
    s.bits |= LoadBigEndian64(s.in) >> s.buffered;
    s.in += (63 - s.buffered) >> 3;
    s.buffered |= 56;
    if (s.out + L::kGroupReach > s.backedUp &&
        !BackUpAhead<L>(destination, capacity, sourceOffset + (s.NextBit(source) >> 3), s, ring))
      break;
    if (!FastGroup<L>(destination, s, ring)) return ERR_INVALIDFORMAT;
  }
  PutBackSpoiled<L::kRing>(destination, s.out, s.backedUp, ring);
  return DecodeTokens<kOffsetBits, kLengthBits>(source, sourceLength, destination, capacity,
                                                s.NextBit(source), s.out, produced);
}

// The patcher is built for size (VORN_SMALL_CODE): fifteen copies of the fast loop would not fit
// its image, so there every method byte gets only its plain loop.
#if defined(VORN_SMALL_CODE)
constexpr bool kFastLoops = false;
#else
constexpr bool kFastLoops = true;
#endif

template <unsigned kOffsetBits, unsigned kLengthBits>
ErrorCode DecodeMethod(const u8* source, u32 sourceLength, u8* destination, u32 capacity,
                       u32* produced) {
  if constexpr (kFastLoops) {
    return DecodeBlock<kOffsetBits, kLengthBits>(source, sourceLength, destination, capacity,
                                                 produced);
  } else {
    return DecodeTokens<kOffsetBits, kLengthBits>(source, sourceLength, destination, capacity, 0, 0,
                                                  produced);
  }
}

typedef ErrorCode (*BlockDecoder)(const u8*, u32, u8*, u32, u32*);

template <unsigned kOffsetBits>
constexpr BlockDecoder DecoderFor(u8 lengthBits) {
  return lengthBits == 1   ? DecodeMethod<kOffsetBits, 1>
         : lengthBits == 2 ? DecodeMethod<kOffsetBits, 2>
         : lengthBits == 3 ? DecodeMethod<kOffsetBits, 3>
         : lengthBits == 4 ? DecodeMethod<kOffsetBits, 4>
                           : DecodeMethod<kOffsetBits, 5>;
}

BlockDecoder SelectDecoder(u8 method) {
  assert(LzssMethodValid(method));
  switch (method >> 4) {
    case 10:
      return DecoderFor<10>(method & 0x0F);
    case 11:
      return DecoderFor<11>(method & 0x0F);
    default:
      return DecoderFor<12>(method & 0x0F);
  }
}

}  // namespace

ErrorCode LzssDecodeBlock(const u8* source, u32 sourceLength, u8* destination,
                          u32 destinationCapacity, u32* produced, u8 method) {
  if (!LzssMethodValid(method)) return ERR_NOSUCHBITLENGTHS;
  if (sourceLength == 0) {
    *produced = 0;
    return nullptr;
  }
  return SelectDecoder(method)(source, sourceLength, destination, destinationCapacity, produced);
}
