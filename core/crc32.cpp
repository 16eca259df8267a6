#include "core/crc32.h"

#include "core/byte_order.h"

namespace {

constexpr u32 kPolynomial = 0xEDB88320u;

// Slicing-by-8: table[k][b] is the CRC contribution of byte b followed by k zero bytes, so eight
// input bytes are folded with eight independent lookups per step.
struct Crc32Tables {
  u32 table[8][256];
};

constexpr void FillTables(Crc32Tables& t) {
  for (u32 b = 0; b < 256; ++b) {
    u32 crc = b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? kPolynomial : 0u);
    t.table[0][b] = crc;
  }
  for (u32 b = 0; b < 256; ++b) {
    for (int k = 1; k < 8; ++k) {
      u32 previous = t.table[k - 1][b];
      t.table[k][b] = (previous >> 8) ^ t.table[0][previous & 0xFFu];
    }
  }
}

#if defined(VORN_SMALL_CODE)
// The patcher's image has no room for 8 KiB of tables: they are filled on first use. The patcher
// computes CRCs on its main thread only, before the copy worker starts.
Crc32Tables g_tables;
bool g_tablesFilled = false;

const Crc32Tables& Tables() {
  if (!g_tablesFilled) {
    FillTables(g_tables);
    g_tablesFilled = true;
  }
  return g_tables;
}
#else
constexpr Crc32Tables MakeTables() {
  Crc32Tables t{};
  FillTables(t);
  return t;
}

constexpr Crc32Tables kTables = MakeTables();

const Crc32Tables& Tables() { return kTables; }
#endif

}  // namespace

u32 Crc32Update(u32 crc, const void* data, size_t size) {
  const u8* p = static_cast<const u8*>(data);
  const auto& t = Tables().table;
  crc = ~crc;
  while (size >= 8) {
    u32 low = LoadLittleEndian32(p) ^ crc;
    u32 high = LoadLittleEndian32(p + 4);
    crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
          t[4][low >> 24] ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^
          t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    p += 8;
    size -= 8;
  }
  while (size--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFFu];
  return ~crc;
}
