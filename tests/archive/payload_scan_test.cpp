#include "archive/payload_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/memory_file.h"

namespace {

// Filler that never forms the signature, with the four letters sprinkled in as an executable's
// own strings would be.
std::vector<u8> ImageBytes(u32 size) {
  std::vector<u8> bytes(size);
  for (u32 i = 0; i < size; ++i) bytes[i] = static_cast<u8>(i * 7 + 3);
  for (u32 at = 100; at + 12 <= size; at += 3001) std::memcpy(&bytes[at], "LZSS", 4);
  return bytes;
}

void PutHeader(std::vector<u8>& bytes, u32 at, u32 blockSize) {
  std::memcpy(&bytes[at], "LZSS", 4);
  for (u32 i = 4; i < 8 && at + i < bytes.size(); ++i) bytes[at + i] = 0;
  for (u32 i = 0; i < 4; ++i) bytes[at + 8 + i] = static_cast<u8>(blockSize >> (8 * i));
}

ErrorCode Scan(std::vector<u8> bytes, u32* offset) {
  MemoryFile file(std::move(bytes));
  return FindPayload(&file, offset);
}

}  // namespace

TEST(FindPayload, FindsAHeaderAtAnyPositionAroundBlockBoundaries) {
  // Covers headers wholly inside a block, straddling two scan blocks (the overlap), and starting
  // exactly at a block start.
  for (u32 at :
       {0u, 24576u + 100u, 8192u - 14u, 8192u - 5u, 8191u, 8192u, 16384u - 1u, 16384u + 3u}) {
    std::vector<u8> bytes = ImageBytes(40000);
    PutHeader(bytes, at, 32768);
    u32 offset = 0xDEADBEEF;
    ASSERT_EQ(Scan(bytes, &offset), nullptr) << "header at " << at;
    EXPECT_EQ(offset, at);
  }
}

TEST(FindPayload, PassesOverSignaturesWithoutTheBlockSizeAndTakesTheFirstRealOne) {
  std::vector<u8> bytes = ImageBytes(60000);
  PutHeader(bytes, 5000, 32767);
  PutHeader(bytes, 5001, 0x00800000);  // 32768 shifted: must compare the whole word
  PutHeader(bytes, 20000, 32768);
  PutHeader(bytes, 30000, 32768);
  u32 offset = 0;
  ASSERT_EQ(Scan(bytes, &offset), nullptr);
  EXPECT_EQ(offset, 20000u);
}

TEST(FindPayload, ReportsNotFoundForFilesWithoutPayload) {
  u32 offset = 7;
  EXPECT_EQ(Scan({}, &offset), ERR_NOTFOUND);
  EXPECT_EQ(Scan(ImageBytes(11), &offset), ERR_NOTFOUND);
  EXPECT_EQ(Scan(ImageBytes(70000), &offset), ERR_NOTFOUND);
  std::vector<u8> cut = ImageBytes(9010);
  PutHeader(cut, 8990, 32768);
  cut.resize(9001);  // the block size word is cut off by the end of the file
  EXPECT_EQ(Scan(cut, &offset), ERR_NOTFOUND);
  EXPECT_EQ(offset, 7u);
}

// The scan used to stop one block short of the last whole 8 KiB block, so a payload behind a
// small image, or in the last 16 KiB of the file, was reported missing.
TEST(FindPayload, FindsPayloadInTheLastSixteenKibibytes) {
  for (u32 size : {12u, 100u, 16383u, 16384u, 40000u}) {
    for (u32 back : {12u, 14u, 8192u, 16000u}) {
      if (back > size) continue;
      std::vector<u8> bytes = ImageBytes(size);
      PutHeader(bytes, size - back, 32768);
      u32 offset = 0;
      ASSERT_EQ(Scan(bytes, &offset), nullptr) << size << " " << back;
      EXPECT_EQ(offset, size - back);
    }
  }
}

TEST(FindPayload, ReportsReadErrorsAndBadArguments) {
  MemoryFile file(ImageBytes(30000));
  file.failReadFrom = 2;
  u32 offset = 0;
  EXPECT_EQ(FindPayload(&file, &offset), ERR_READFAIL);
  EXPECT_EQ(FindPayload(nullptr, &offset), ERR_BADPARAMS);
  EXPECT_EQ(FindPayload(&file, nullptr), ERR_BADPARAMS);
}
