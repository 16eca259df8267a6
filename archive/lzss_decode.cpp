#include <cassert>

#include "archive/lzss_codec.h"

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

// One loop per method byte, the field widths and the window as constants.
template <unsigned kOffsetBits, unsigned kLengthBits>
ErrorCode DecodeBlock(const u8* source, u32 sourceLength, u8* destination, u32 capacity,
                      u32* produced) {
  constexpr u32 kWindow = 1u << kOffsetBits;
  constexpr unsigned kMatchBits = 1 + kOffsetBits + kLengthBits;
  static_assert(kMatchBits + 7 <= 32, "a token must fit the fetch window after the bit offset");

  u32 out = 0;
  u64 bit = 0;  // 64-bit: 8 * sourceLength does not fit 32 bits for the largest sources
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

typedef ErrorCode (*BlockDecoder)(const u8*, u32, u8*, u32, u32*);

template <unsigned kOffsetBits>
constexpr BlockDecoder DecoderFor(u8 lengthBits) {
  return lengthBits == 1   ? DecodeBlock<kOffsetBits, 1>
         : lengthBits == 2 ? DecodeBlock<kOffsetBits, 2>
         : lengthBits == 3 ? DecodeBlock<kOffsetBits, 3>
         : lengthBits == 4 ? DecodeBlock<kOffsetBits, 4>
                           : DecodeBlock<kOffsetBits, 5>;
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
