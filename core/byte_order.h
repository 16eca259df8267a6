// Unaligned loads of multi-byte values in a stated byte order, whatever the host's.
#pragma once

#include <cstring>

#include "core/types.h"

// The 8 bytes at p, the first one most significant.
inline u64 LoadBigEndian64(const u8* p) {
  u64 v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The 4 bytes at p, the first one least significant.
inline u32 LoadLittleEndian32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

inline void StoreLittleEndian32(u8* p, u32 value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(value >> (8 * i));
}
