#include "file/bfhp.h"

#include <gtest/gtest.h>

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

// Every block except block 0 is either in use (roots, index and data blocks) or on the free list.
u32 BlocksAccounted(CBFHP* pool) {
  return pool->Header().blockCount - 1 - pool->Header().freeCount;
}

TEST(BfhpAttach, RejectsBadStoresAndLeavesTheFileWithTheCaller) {
  const struct {
    const char* what;
    u32 word, value;  // the header word changed
  } cases[] = {
      {"magic", 0, 0x53465049u},
      {"block size 0", 1, 0},
      {"block size not x4", 1, 66},
      {"block size below header", 1, 16},
      {"root header = block size", 6, kBlock},
      {"root header not x4", 6, 30},
      {"root header too small", 6, 4},
      {"no blocks", 2, 0},
      {"blocks beyond the file", 2, 3},
      {"free count >= blocks", 4, 1},
  };
  for (const auto& c : cases) {
    std::vector<u8> bytes = EmptyHpfsBytes(kBlock, kRootHeader, 100);
    StoreLe32(bytes, 4 * c.word, c.value);
    MemoryFile file(bytes);  // on the stack: deleting it on a refusal would crash
    CBFHP pool;
    EXPECT_EQ(pool.Attach(&file), ERR_INVALIDFORMAT) << c.what;
    EXPECT_EQ(pool.Alloc(10), 0u) << c.what;
  }
}

TEST(BfhpHandles, GrowThroughTwoIndexLevelsAndBackToEmptyKeepingEveryByte) {
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100000));
  PoolHandle handle = pool->Alloc(0);
  ASSERT_NE(handle, 0u);
  // A second handle interleaves its blocks with the first one's.
  PoolHandle other = pool->Alloc(100);
  WriteAll(pool.get(), other, 99);
  const struct {
    u32 size;
    int depth;
  } steps[] = {{300, 0},   {512, 0},  {513, 1}, {8192, 1}, {8193, 2},
               {20000, 2}, {5000, 2}, {100, 2}, {9000, 2}, {0, 0}};
  u32 seed = 1, previous = 0;
  for (const auto& step : steps) {
    ASSERT_EQ(pool->Realloc(handle, step.size), handle) << step.size;
    EXPECT_EQ(pool->Depth(handle), step.depth) << step.size;
    // The bytes that both sizes cover survive the resize.
    u32 kept = previous < step.size ? previous : step.size;
    if (kept) {
      std::vector<u8> bytes(kept);
      ASSERT_EQ(pool->ReadHandle(handle, bytes.data(), 0, kept), nullptr);
      EXPECT_EQ(bytes, Pattern(seed, kept)) << step.size;
    }
    WriteAll(pool.get(), handle, ++seed);
    ExpectAll(pool.get(), handle, seed, step.size);
    ExpectAll(pool.get(), other, 99, 100);
    previous = step.size;
  }
  // Offsets at or past the end are refused (an empty handle has no data); counts are cut.
  u8 bytes[50];
  EXPECT_EQ(pool->ReadHandle(other, bytes, 100, 1), ERR_BADPARAMS);
  EXPECT_EQ(pool->ReadHandle(handle, bytes, 0, 1), ERR_BADPARAMS);
  EXPECT_EQ(pool->ReadHandle(other, bytes, 99, 50), nullptr);
  EXPECT_EQ(bytes[0], Pattern(99, 100).back());
  // Only the two roots and the other handle's two data blocks are left in use.
  EXPECT_EQ(BlocksAccounted(pool.get()), 4u);
  EXPECT_EQ(pool->Free(handle), nullptr);
  EXPECT_EQ(pool->Free(other), nullptr);
  EXPECT_EQ(BlocksAccounted(pool.get()), 0u);
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
    EXPECT_EQ(BlocksAccounted(pool.get()), 0u);
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

}  // namespace
