// The block store under HPFS (CBFHP), its locked copies and the file over one handle.
#include <gtest/gtest.h>

#include <cstring>

#include "file/bfhp.h"
#include "file/file_handle_pool.h"
#include "file/hp_file.h"
#include "support/hpfs_store.h"

namespace {

// 64-byte blocks with a 32-byte root header: 16 words per block, 8 root pointers, so a handle
// needs a level-1 index above 512 bytes and a level-2 index above 8 KiB.
constexpr u32 kBlock = 64;
constexpr u32 kRootHeader = 32;

void WriteAll(CBFHP* pool, PoolHandle handle, u32 seed) {
  u32 size = pool->Size(handle);
  if (size == 0) return;
  std::vector<u8> bytes = Pattern(seed, size);
  ASSERT_EQ(pool->WriteHandle(handle, bytes.data(), 0, size), nullptr);
}

void ExpectAll(CBFHP* pool, PoolHandle handle, u32 seed, u32 size) {
  ASSERT_EQ(pool->Size(handle), size);
  if (size == 0) return;
  std::vector<u8> bytes(size);
  ASSERT_EQ(pool->ReadHandle(handle, bytes.data(), 0, kWholeBlock), nullptr);
  EXPECT_EQ(bytes, Pattern(seed, size));
}

// Regressions: growth without room for its index blocks, past the deepest index, or an Alloc
// that does not fit once kept what it had taken or changed the handle.
TEST(BfhpRegression, RefusedGrowthChangesNothing) {
  const struct {
    u32 blockSize, rootHeader, maxBlocks, size, grown;
  } rows[] = {
      {kBlock, kRootHeader, 11, 8 * kBlock, 9 * kBlock},  // a ninth block needs an index
      {32, 28, 0x7FFFFFFF, 1u << 20, (1u << 20) + 1},     // a sixth index level
      {kBlock, kRootHeader, 4, 0, 5 * kBlock},            // more blocks than the store has
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.grown);
    auto pool = AttachHpfs(EmptyHpfsBytes(row.blockSize, row.rootHeader, row.maxBlocks));
    PoolHandle handle = pool->Alloc(row.size);
    ASSERT_NE(handle, 0u);
    WriteAll(pool.get(), handle, 2);
    const HpfsHeader before = pool->Header();
    const int depth = pool->Depth(handle);
    EXPECT_EQ(pool->Realloc(handle, row.grown), 0u);
    EXPECT_EQ(pool->Alloc(row.grown), 0u);
    EXPECT_EQ(pool->Header().blockCount, before.blockCount);
    EXPECT_EQ(pool->Header().freeCount, before.freeCount);
    EXPECT_EQ(pool->Depth(handle), depth);
    ExpectAll(pool.get(), handle, 2, row.size);
    EXPECT_EQ(pool->Free(handle), nullptr);
    EXPECT_EQ(pool->Header().freeCount, pool->Header().blockCount - 1) << "all but block 0 free";
  }
}

TEST(BfhpRegression, GrowthFromADamagedFreeListGivesBackWhatItTook) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100), &file);
  PoolHandle spare = pool->Alloc(3 * kBlock);  // root 1, data 2, 3, 4
  PoolHandle handle = pool->Alloc(kBlock);     // root 5, data 6
  WriteAll(pool.get(), handle, 7);
  ASSERT_EQ(pool->Realloc(spare, 0), spare);  // list block 4 holds 3 (word 1) and 2 (word 2)
  ASSERT_EQ(pool->Flush(), nullptr);
  std::vector<u8> bytes = file->bytes;
  StoreLe32(bytes, 4 * kBlock + 4, 0);  // word 1 now names block 0
  pool = AttachHpfs(bytes, &file);
  HpfsHeader before = pool->Header();
  // Block 2 comes first and is fine; the next one is block 0, which no handle may use.
  EXPECT_EQ(pool->Realloc(handle, 4 * kBlock), 0u);
  EXPECT_EQ(pool->Header().freeCount, before.freeCount);
  EXPECT_EQ(pool->Header().blockCount, before.blockCount);
  ExpectAll(pool.get(), handle, 7, kBlock);
}

// Regressions: an empty handle unlocked as modified stayed locked, and a handle grown while
// locked got more than the copied bytes written back.
TEST(HpPoolLocks, NestedLocksShareOneCopyWrittenBackOnceAtTheLastUnlockOrKeptWhenThatFails) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, 32, 100), &file);
  PoolHandle handle = pool->Alloc(100);
  std::vector<u8> data = Pattern(1, 100);
  ASSERT_EQ(pool->WriteHandle(handle, data.data(), 0, 100), nullptr);

  u8* first = static_cast<u8*>(pool->Lock(handle));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::memcmp(first, data.data(), 100), 0);
  EXPECT_EQ(pool->Lock(handle), first);
  EXPECT_EQ(pool->FindLocked(handle), first);
  EXPECT_EQ(pool->HandleOf(first), handle);
  EXPECT_EQ(pool->HandleOf(first + 1), 0u);

  first[5] ^= 0xFF;
  u32 writes = file->writes;
  pool->Unlock(handle, 0);
  EXPECT_EQ(file->writes, writes);
  EXPECT_EQ(pool->FindLocked(handle), first);
  pool->Unlock(handle, 1);
  EXPECT_EQ(file->writes, writes + 1);
  EXPECT_EQ(pool->FindLocked(handle), nullptr);
  EXPECT_EQ(pool->LockedCount(), 0u);
  u8 byte;
  ASSERT_EQ(pool->ReadHandle(handle, &byte, 5, 1), nullptr);
  EXPECT_EQ(byte, static_cast<u8>(data[5] ^ 0xFF));

  // Unmodified copies are dropped without a write; unknown handles are ignored.
  pool->Lock(handle);
  pool->Unlock(handle, 0);
  pool->Unlock(handle, 1);
  EXPECT_EQ(file->writes, writes + 1);
  // A failed write-back keeps the copy locked, and the modified mark stays with it.
  u8* copy = static_cast<u8*>(pool->Lock(handle));
  copy[0] = 'X';
  file->failWriteFrom = file->writes + 1;
  pool->Unlock(handle, 1);
  EXPECT_EQ(pool->FindLocked(handle), copy);
  file->failWriteFrom = 0;
  pool->Unlock(handle, 0);
  EXPECT_EQ(pool->FindLocked(handle), nullptr);
  ASSERT_EQ(pool->ReadHandle(handle, &byte, 0, 1), nullptr);
  EXPECT_EQ(byte, 'X');
}

TEST(HpPoolRegression, EmptyOrGrownHandleGetsOnlyTheCopiedBytesBack) {
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, 32, 100));
  PoolHandle empty = pool->Alloc(0);
  ASSERT_NE(pool->Lock(empty), nullptr);
  pool->Unlock(empty, 1);
  EXPECT_EQ(pool->LockedCount(), 0u);
  PoolHandle handle = pool->Alloc(4);
  ASSERT_EQ(pool->WriteHandle(handle, "abcd", 0, 4), nullptr);
  char* copy = static_cast<char*>(pool->Lock(handle));
  copy[0] = 'z';
  ASSERT_EQ(pool->Realloc(handle, 300), handle);
  std::vector<u8> tail = Pattern(2, 296);
  ASSERT_EQ(pool->WriteHandle(handle, tail.data(), 4, 296), nullptr);
  pool->Unlock(handle, 1);
  std::vector<u8> bytes(300);
  ASSERT_EQ(pool->ReadHandle(handle, bytes.data(), 0, 300), nullptr);
  EXPECT_EQ(std::memcmp(bytes.data(), "zbcd", 4), 0);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.begin() + 4));
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
