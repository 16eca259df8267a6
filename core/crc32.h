// CRC-32 as used by zip and PNG (IEEE polynomial, reflected, initial and final value all ones).
#pragma once

#include "core/types.h"

// Continues a CRC over more bytes. Start with 0; the result is the finished CRC of everything
// fed so far, so Crc32Update(Crc32Update(0, a, n), b, m) is the CRC of a followed by b.
u32 Crc32Update(u32 crc, const void* data, size_t size);
