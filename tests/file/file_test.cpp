#include "file/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/hpfs_store.h"

namespace {

// What a correct move leaves behind: memmove over the part that lies inside the file.
std::vector<u8> Moved(std::vector<u8> bytes, u32 destination, u32 source, u32 count) {
  if (source > bytes.size()) return bytes;
  count = std::min<u32>(count, static_cast<u32>(bytes.size()) - source);
  if (bytes.size() < static_cast<size_t>(destination) + count) bytes.resize(destination + count);
  std::memmove(bytes.data() + destination, bytes.data() + source, count);
  return bytes;
}

}  // namespace

// Overlapping ranges in both directions with any chunk size, counts cut at the end, sources at
// or past the end, and the regressions: a chunk size of 0 looped forever, and a destination
// range past 4 GiB wrapped around so that the backward copy overwrote the start of the file.
TEST(MoveData, AgreesWithMemmoveOverThePartInsideTheFile) {
  const struct {
    u32 destination, source, count;
    ErrorCode error;
  } rows[] = {
      {110, 100, 50, nullptr}, {100, 110, 50, nullptr},        {0, 150, 50, nullptr},
      {150, 0, 50, nullptr},   {1, 0, 199, nullptr},           {0, 1, 199, nullptr},
      {120, 80, 80, nullptr},  {5, 5, 100, nullptr},           {0, 201, 10, nullptr},
      {0, 200, 10, nullptr},   {20, 190, 0x7FFFFFFF, nullptr}, {0xFFFFFFF8u, 0, 16, ERR_BADPARAMS}};
  for (const auto& row : rows) {
    for (u32 chunk : {0u, 1u, 7u, 16u, 50u, 64u, 32768u}) {
      MemoryFile file(Pattern(1, 200));
      const ErrorCode error = chunk == 0 && row.source < 200 ? ERR_BADPARAMS : row.error;
      const std::vector<u8> expected =
          error ? file.bytes : Moved(file.bytes, row.destination, row.source, row.count);
      EXPECT_EQ(file.MoveData(row.destination, row.source, row.count, chunk, nullptr), error);
      EXPECT_EQ(file.bytes, expected) << "dst " << row.destination << " src " << row.source
                                      << " count " << row.count << " chunk " << chunk;
      EXPECT_TRUE(!(error || row.source >= 200) || file.reads + file.writes == 0u);
    }
  }
}
