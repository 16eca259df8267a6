#include "archive/payload_seal.h"

#include <cstring>

#include "core/byte_order.h"
#include "core/crc32.h"

namespace {

const char kSealMagic[8] = {'V', 'o', 'r', 'n', 'S', 'e', 'a', 'l'};
constexpr u32 kSealCrcOffset = kSealSize - 4;
// A container holds at least its 14-byte header and one block table entry.
constexpr u32 kSmallestContainer = 18;

}  // namespace

bool ReadSeal(const u8* bytes, PayloadSeal* seal) {
  if (std::memcmp(bytes, kSealMagic, sizeof(kSealMagic)) != 0) return false;
  if (LoadLittleEndian32(bytes + kSealCrcOffset) != Crc32Update(0, bytes, kSealCrcOffset))
    return false;
  if (LoadLittleEndian32(bytes + 8) != kSealVersion) return false;
  if (LoadLittleEndian32(bytes + 12) < kSmallestContainer) return false;
  seal->length = LoadLittleEndian32(bytes + 12);
  seal->crc = LoadLittleEndian32(bytes + 16);
  return true;
}

void WriteSeal(u8* bytes, const PayloadSeal& seal) {
  std::memcpy(bytes, kSealMagic, sizeof(kSealMagic));
  StoreLittleEndian32(bytes + 8, kSealVersion);
  StoreLittleEndian32(bytes + 12, seal.length);
  StoreLittleEndian32(bytes + 16, seal.crc);
  StoreLittleEndian32(bytes + kSealCrcOffset, Crc32Update(0, bytes, kSealCrcOffset));
}
