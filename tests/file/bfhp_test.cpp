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
    bool destroyed = false;
    MemoryFile file(bytes);
    file.destroyedFlag = &destroyed;
    CBFHP pool;
    EXPECT_EQ(pool.Attach(&file), ERR_INVALIDFORMAT) << c.what;
    EXPECT_EQ(pool.Alloc(10), 0u) << c.what;
    file.destroyedFlag = nullptr;
    EXPECT_FALSE(destroyed) << c.what;
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

TEST(BfhpBlocks, FreeListHandsOutMostRecentFirstAndTheLastBlockShortensTheFile) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100), &file);
  PoolHandle first = pool->Alloc(4 * kBlock);   // root 1, data 2..5
  PoolHandle second = pool->Alloc(2 * kBlock);  // root 6, data 7, 8
  ASSERT_EQ(second, 6u);
  WriteAll(pool.get(), second, 3);
  ASSERT_EQ(pool->Realloc(second, kBlock), second);  // 8 was the last block: the file shrinks
  ASSERT_EQ(pool->Flush(), nullptr);
  EXPECT_EQ(file->bytes.size(), 8 * kBlock);
  // Shrinking releases 5, 4, 3, 2: 5 becomes the list block holding 4, 3, 2.
  ASSERT_EQ(pool->Realloc(first, 0), first);
  EXPECT_EQ(pool->Header().freeCount, 4u);
  EXPECT_EQ(pool->Header().freeListBlock, 5u);
  // Growing takes 2, 3, 4 from the list's words and then 5 itself.
  ASSERT_EQ(pool->Realloc(second, 5 * kBlock), second);
  EXPECT_EQ(pool->Header().freeCount, 0u);
  EXPECT_EQ(pool->Header().blockCount, 8u);
  ASSERT_EQ(pool->Flush(), nullptr);
  const u32 expected[] = {7, 2, 3, 4, 5};
  for (u32 i = 0; i < 5; ++i) {
    EXPECT_EQ(LoadLe32(file->bytes, 6 * kBlock + kRootHeader + 4 * i), expected[i]) << i;
  }
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

TEST(BfhpMalformed, BadRootsAndPointersAreRefusedWithInvalidFormat) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 5000), &file);
  const PoolHandle big = pool->Alloc(9000), small = pool->Alloc(200);
  WriteAll(pool.get(), big, 1);
  WriteAll(pool.get(), small, 2);
  pool->SetRoot(static_cast<u32>(small));
  ASSERT_EQ(pool->Flush(), nullptr);
  const std::vector<u8> good = file->bytes;
  pool = AttachHpfs(good);  // undamaged, the store keeps its handles and root
  EXPECT_EQ(pool->GetRoot(), small);
  ExpectAll(pool.get(), big, 1, 9000);
  u8 out[64];
  EXPECT_EQ(pool->ReadHandle(0, out, 0, 4), ERR_INVALIDFORMAT);
  EXPECT_EQ(pool->ReadHandle(pool->Header().blockCount, out, 0, 4), ERR_INVALIDFORMAT);
  EXPECT_EQ(pool->Free(0x7FFFFFFF), ERR_INVALIDFORMAT);
  const size_t root = small * kBlock;
  const struct {
    size_t at;
    u32 value;
    PoolHandle handle;
  } cases[] = {
      {root + 4, 6, small},                       // depth 6
      {root + 4, 0xFFFF, small},                  // negative depth
      {root, 8 * kBlock + 1, small},              // size beyond depth 0
      {root + kRootHeader + 4, 0, small},         // its second data block is block 0
      {root + kRootHeader + 4, 0xFFFFFF, small},  // ... or beyond the store
      {big * kBlock + kRootHeader, 0, big},       // the level-1 block is block 0
  };
  for (const auto& c : cases) {
    std::vector<u8> bytes = good;
    StoreLe32(bytes, c.at, c.value);
    auto damaged = AttachHpfs(bytes);
    EXPECT_EQ(damaged->ReadHandle(c.handle, out, 0, 64),
              c.at == root + kRootHeader + 4 ? nullptr : ERR_INVALIDFORMAT)
        << c.at;
    EXPECT_EQ(damaged->ReadHandle(c.handle, out, 60, 8), ERR_INVALIDFORMAT) << c.at;
    EXPECT_EQ(damaged->WriteHandle(c.handle, out, 60, 8), ERR_INVALIDFORMAT) << c.at;
  }
}

}  // namespace
