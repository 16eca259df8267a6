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
  u32 v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void StoreLittleEndian32(u8* p, u32 value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  value = __builtin_bswap32(value);
#endif
  std::memcpy(p, &value, 4);
}
