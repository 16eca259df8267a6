#include "archive/payload_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/memory_file.h"

namespace {

// The first position of "LZSS" whose block-size word (8 bytes on) is 32768, found by looking at
// every position.
u32 FirstHeader(const std::vector<u8>& bytes) {
  for (size_t at = 0; at + 12 <= bytes.size(); ++at) {
    if (std::memcmp(&bytes[at], "LZSS", 4) == 0 && bytes[at + 8] == 0 && bytes[at + 9] == 0x80 &&
        bytes[at + 10] == 0 && bytes[at + 11] == 0)
      return static_cast<u32>(at);
  }
  return 0xFFFFFFFF;
}

}  // namespace

// Images of every size class with headers, near-headers (other block sizes, the signature alone,
// a header cut by the end) planted around the 8 KiB scan blocks and in the last 16 KiB, where the
// scan used to stop one block short and report a payload missing.
TEST(FindPayload, FindsTheFirstHeaderLikeAScanOfEveryPosition) {
  std::mt19937 random(5);
  const u32 sizes[] = {0, 11, 12, 100, 8192, 16383, 16384, 40000, 70000};
  for (u32 round = 0; round < 400; ++round) {
    const u32 size = round < 9 ? sizes[round] : random() % 70000;
    std::vector<u8> bytes(size);
    for (u32 i = 0; i < size; ++i) bytes[i] = static_cast<u8>(i * 7 + 3);
    for (u32 plant = random() % 5; plant > 0 && size >= 12; --plant) {
      const u32 near[] = {size - 12,    size - 14, size - 8192,
                          size - 16000, 8192 - 14, 8191,
                          8192,         16384 - 1, static_cast<u32>(random())};
      const u32 at = near[random() % 9] % (size - 3);
      const u32 blockSizes[] = {32768, 32768, 32767, 0x00800000, 0};
      const u32 blockSize = blockSizes[random() % 5];
      std::memcpy(&bytes[at], "LZSS", 4);
      for (u32 i = 8; i < 12 && at + i < size; ++i)
        bytes[at + i] = static_cast<u8>(blockSize >> (8 * (i - 8)));
    }
    MemoryFile file(bytes);
    u32 offset = 0xDEADBEEF;
    const u32 expected = FirstHeader(bytes);
    ASSERT_EQ(FindPayload(&file, &offset), expected == 0xFFFFFFFF ? ERR_NOTFOUND : nullptr)
        << "size " << size << " round " << round;
    ASSERT_EQ(offset, expected == 0xFFFFFFFF ? 0xDEADBEEF : expected) << "size " << size;
  }
}
