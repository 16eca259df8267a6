// Arbitrary directory bytes for the name index, then lookups with keys taken from the input:
// nothing may be read outside the block, walks must end, and found names must be found again.
#include <cstring>
#include <string>

#include "core/name_index.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (size < 4) return 0;
  u16 recordSize = data[0] % 12;
  u16 step = data[1] % 8;
  u32 count = data[2] % 4 == 0 ? 0 : data[3];
  data += 4;
  size -= 4;
  // Keys come from the end of the input: up to 3 NUL-separated strings of the last 64 bytes.
  size_t keyBytes = size < 64 ? size / 2 : 32;
  std::string keys(reinterpret_cast<const char*>(data + size - keyBytes), keyBytes);
  size -= keyBytes;

  MemHandle block = 0;
  if (size > 0) {
    block = MemAlloc(static_cast<u32>(size));
    if (!block) return 0;
    std::memcpy(MemLock(block), data, size);
    MemUnlock(block);
  }
  CNameIndex index(recordSize, 4, block, static_cast<u32>(size), count, 0, 0, step);
  u8 record[16];
  char name[256];
  char found[256];
  u32 steps = 0;
  for (u32 more = index.NextName(nullptr, name); more; more = index.NextName(name, name)) {
    if (++steps > index.UsableCount()) __builtin_trap();
    if (!index.FindRecord(name, record)) __builtin_trap();
    u32 at = 0;
    if (!index.FindPrefix(name, found, &at) || std::strcmp(found, name) != 0) __builtin_trap();
  }
  if (steps != index.UsableCount()) __builtin_trap();
  for (size_t start = 0; start < keys.size();) {
    const char* key = keys.c_str() + start;
    u32 at = 0;
    index.FindRecord(key, record);
    index.NextName(key, name);
    index.FindPrefix(key, found, &at);
    start += std::strlen(key) + 1;
  }
  return 0;
}
