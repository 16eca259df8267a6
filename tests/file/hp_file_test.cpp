#include "file/hp_file.h"

#include <gtest/gtest.h>

#include "support/hpfs_store.h"

namespace {

constexpr u32 kBlock = 64;

TEST(HpFile, ReadsWritesSeeksAndTruncatesTheHandle) {
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, 32, 1000));
  PoolHandle handle = pool->Alloc(0);
  CHPFile file(pool.get(), handle, OPEN_READ | OPEN_WRITE);

  std::vector<u8> data = Pattern(3, 1000);
  u32 done = 0;
  ASSERT_EQ(file.Write(data.data(), 1000, &done), nullptr);
  EXPECT_EQ(done, 1000u);
  EXPECT_EQ(file.GetSize(), 1000u);
  EXPECT_EQ(pool->Size(handle), 1000u);

  // With done, a read at the end transfers nothing and succeeds; one that passes the end
  // transfers what is there. Without done it is all or nothing.
  u8 buffer[2000];
  EXPECT_EQ(file.Read(buffer, 10, &done), nullptr);
  EXPECT_EQ(done, 0u);
  ASSERT_EQ(file.Seek(-100, SEEK_FROM_END), nullptr);
  EXPECT_EQ(file.Read(buffer, 500, &done), nullptr);
  EXPECT_EQ(done, 100u);
  EXPECT_TRUE(std::equal(buffer, buffer + 100, data.begin() + 900));
  ASSERT_EQ(file.Seek(950, SEEK_FROM_START), nullptr);
  EXPECT_EQ(file.Read(buffer, 51, nullptr), ERR_UNKNOWN);
  EXPECT_EQ(file.GetPosition(), 950u);
  EXPECT_EQ(file.Read(buffer, 50, nullptr), nullptr);
  EXPECT_EQ(file.GetPosition(), 1000u);
  EXPECT_EQ(file.Read(buffer, 0, nullptr), nullptr);

  // Seeking past the end and writing grows the file to position + size.
  ASSERT_EQ(file.Seek(500, SEEK_FROM_CURRENT), nullptr);
  ASSERT_EQ(file.Write(data.data(), 20, nullptr), nullptr);
  EXPECT_EQ(file.GetSize(), 1520u);
  ASSERT_EQ(file.ReadAt(buffer, 1500, 20, nullptr), nullptr);
  EXPECT_TRUE(std::equal(buffer, buffer + 20, data.begin()));

  ASSERT_EQ(file.Seek(300, SEEK_FROM_START), nullptr);
  ASSERT_EQ(file.Truncate(), nullptr);
  EXPECT_EQ(file.GetSize(), 300u);
  EXPECT_EQ(pool->Size(handle), 300u);
  ASSERT_EQ(file.Seek(0, SEEK_FROM_START), nullptr);
  ASSERT_EQ(file.Truncate(), nullptr);
  EXPECT_EQ(pool->Size(handle), 0u);
  EXPECT_EQ(file.Flush(), ERR_NOTIMPLEMENTED);
}

// Regression: a write that could not grow the handle reported success when the pool had
// recorded no error. Neither it nor a failing base file may move the position.
TEST(HpFileRegression, FailedWritesReportAnErrorAndTransferNothing) {
  for (bool baseFails : {false, true}) {
    MemoryFile* memory = nullptr;
    auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, 32, baseFails ? 100 : 4), &memory);
    CHPFile file(pool.get(), pool->Alloc(0), OPEN_WRITE);
    memory->failWriteFrom = baseFails ? memory->writes + 1 : 0;
    std::vector<u8> data = Pattern(1, 3 * kBlock);  // room for two data blocks only
    u32 done = 99;
    EXPECT_NE(file.Write(data.data(), 3 * kBlock, &done), nullptr);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_EQ(file.GetSize() == 0, !baseFails) << "the handle grew before the base file failed";
    memory->failWriteFrom = 0;
  }
}

}  // namespace
