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
