#include <gtest/gtest.h>

#include <cstring>

#include "file/file_handle_pool.h"
#include "support/hpfs_store.h"

namespace {

constexpr u32 kBlock = 64;

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

// Regressions: an empty handle unlocked as modified stayed locked, and a handle grown while
// locked got more than the copied bytes written back.
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

}  // namespace
