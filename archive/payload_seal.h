// The seal: a record that `vornpatch build` writes right in front of a patch's container, so that
// the patcher can check every stored byte of its payload, and that none is missing from its end,
// before it asks anything. All integers little-endian:
//    0  8  magic "VornSeal"
//    8  4  version, 1
//   12  4  the container's length in bytes
//   16  4  CRC-32 of the container's bytes
//   20  4  CRC-32 of bytes 0 to 19 of the record
// Readers of the container layout take the record for the last bytes of the executable image.
// The record's own CRC keeps the magic that the patcher's image holds (and any other stray copy)
// from counting as a seal.
#pragma once

#include "core/types.h"

constexpr u32 kSealSize = 24;
constexpr u32 kSealVersion = 1;

// The spare byte of a sealed container's header (readers keep it and never interpret it). A
// container so marked without a sound record in front of it is a sealed patch whose record was
// damaged, and is refused. A foreign container that happens to carry this value in its spare
// byte is refused as well: that costs nothing but a clear refusal before any change (and
// `vornpatch verify` names the reason), while without the mark a damaged record would let a
// damaged payload be applied unchecked.
constexpr u32 kSpareByteOffset = 13;
constexpr u8 kSealedSpare = 0x53;

struct PayloadSeal {
  u32 length;  // of the container, in bytes
  u32 crc;     // CRC-32 of the container's bytes
};

// True when bytes[0 .. kSealSize) hold a sound record of a version this code reads.
bool ReadSeal(const u8* bytes, PayloadSeal* seal);
void WriteSeal(u8* bytes, const PayloadSeal& seal);
