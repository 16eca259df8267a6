#include "file/bfhp.h"

#include <gtest/gtest.h>

#include <set>

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
  struct Case {
    const char* what;
    u32 word;  // header word to change
    u32 value;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
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
  CBFHP pool;
  EXPECT_EQ(pool.Attach(nullptr), ERR_BADPARAMS);
  MemoryFile shortFile(std::string("HPF"));
  EXPECT_EQ(pool.Attach(&shortFile), ERR_EOF);
}

TEST(BfhpHandles, GrowThroughTwoIndexLevelsAndBackToEmptyKeepingEveryByte) {
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100000));
  PoolHandle handle = pool->Alloc(0);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(pool->Depth(handle), 0);
  // A second handle interleaves its blocks with the first one's.
  PoolHandle other = pool->Alloc(100);
  WriteAll(pool.get(), other, 99);

  struct Step {
    u32 size;
    int depth;
  };
  const Step steps[] = {{300, 0},   {512, 0},  {513, 1}, {8192, 1}, {8193, 2},
                        {20000, 2}, {5000, 2}, {100, 2}, {9000, 2}, {0, 0}};
  u32 seed = 1;
  u32 previous = 0;
  for (const Step& step : steps) {
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
  // Only the two roots and the other handle's two data blocks are left in use.
  EXPECT_EQ(BlocksAccounted(pool.get()), 4u);
  EXPECT_EQ(pool->Free(handle), nullptr);
  EXPECT_EQ(pool->Free(other), nullptr);
  EXPECT_EQ(BlocksAccounted(pool.get()), 0u);
}

TEST(BfhpBlocks, ReleasingTheLastBlockShortensTheFile) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100), &file);
  PoolHandle handle = pool->Alloc(2 * kBlock);  // root 1, data 2 and 3
  WriteAll(pool.get(), handle, 1);
  ASSERT_EQ(pool->Flush(), nullptr);
  EXPECT_EQ(file->bytes.size(), 4 * kBlock);
  ASSERT_EQ(pool->Realloc(handle, kBlock), handle);
  EXPECT_EQ(file->bytes.size(), 3 * kBlock);
  EXPECT_EQ(pool->Header().blockCount, 3u);
  EXPECT_EQ(pool->Header().freeCount, 0u);
}

TEST(BfhpBlocks, FreeListHandsOutMostRecentFirstAndItsOwnBlockLast) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100), &file);
  PoolHandle first = pool->Alloc(4 * kBlock);  // root 1, data 2..5
  PoolHandle second = pool->Alloc(kBlock);     // root 6, data 7
  ASSERT_EQ(first, 1u);
  ASSERT_EQ(second, 6u);
  WriteAll(pool.get(), second, 3);
  // Shrinking releases 5, 4, 3, 2: 5 becomes the list block holding 4, 3, 2.
  ASSERT_EQ(pool->Realloc(first, 0), first);
  EXPECT_EQ(pool->Header().freeCount, 4u);
  EXPECT_EQ(pool->Header().freeListBlock, 5u);
  // Growing takes 2, 3, 4 from the list's words and then 5 itself (freeCount 1).
  ASSERT_EQ(pool->Realloc(second, 5 * kBlock), second);
  EXPECT_EQ(pool->Header().freeCount, 0u);
  EXPECT_EQ(pool->Header().blockCount, 8u);
  ASSERT_EQ(pool->Flush(), nullptr);
  const u32 expected[] = {7, 2, 3, 4, 5};
  for (u32 i = 0; i < 5; ++i) {
    EXPECT_EQ(LoadLe32(file->bytes, 6 * kBlock + kRootHeader + 4 * i), expected[i]) << i;
  }
}

TEST(BfhpBlocks, FreeListSpanningSeveralListBlocksHandsEachBlockOutOnce) {
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 1000));
  PoolHandle big = pool->Alloc(100 * kBlock);
  PoolHandle keep = pool->Alloc(1);  // keeps the released blocks off the end of the file
  ASSERT_NE(keep, 0u);
  u32 used = BlocksAccounted(pool.get());
  ASSERT_EQ(pool->Realloc(big, 0), big);
  u32 released = used - BlocksAccounted(pool.get());
  EXPECT_GT(released, 2 * (kBlock / 4));  // more than two list blocks' worth
  u32 blockCount = pool->Header().blockCount;
  // Take every released block back, one handle each, and make sure none comes twice.
  std::set<PoolHandle> seen;
  for (u32 i = 0; i < released; ++i) {
    PoolHandle handle = pool->Alloc(0);
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(seen.insert(handle).second) << handle;
  }
  EXPECT_EQ(pool->Header().freeCount, 0u);
  EXPECT_EQ(pool->Header().blockCount, blockCount);
}

TEST(BfhpTransfer, ConsecutiveBlocksAreOneCallOnTheFileAndAGapMakesTwo) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 100), &file);
  PoolHandle handle = pool->Alloc(3 * kBlock);  // data 2, 3, 4
  WriteAll(pool.get(), handle, 4);
  std::vector<u8> bytes(3 * kBlock);
  pool->Size(handle);  // root cached
  u32 before = file->reads;
  ASSERT_EQ(pool->ReadHandle(handle, bytes.data(), 0, 3 * kBlock), nullptr);
  EXPECT_EQ(file->reads - before, 1u);
  EXPECT_EQ(bytes, Pattern(4, 3 * kBlock));

  // A second handle takes block 6 after the first's root... then the first grows past it.
  PoolHandle other = pool->Alloc(kBlock);                // root 5, data 6
  ASSERT_EQ(pool->Realloc(handle, 4 * kBlock), handle);  // data 7
  WriteAll(pool.get(), handle, 8);
  bytes.assign(4 * kBlock - 10, 0);
  pool->Size(handle);
  before = file->reads;
  ASSERT_EQ(pool->ReadHandle(handle, bytes.data(), 10, kWholeBlock), nullptr);
  EXPECT_EQ(file->reads - before, 2u);
  std::vector<u8> expected = Pattern(8, 4 * kBlock);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected.begin() + 10));
  ASSERT_NE(other, 0u);

  // Offsets at or past the end are refused (an empty handle has no data); counts are cut.
  EXPECT_EQ(pool->ReadHandle(handle, bytes.data(), 4 * kBlock, 1), ERR_BADPARAMS);
  EXPECT_EQ(pool->ReadHandle(pool->Alloc(0), bytes.data(), 0, 1), ERR_BADPARAMS);
  EXPECT_EQ(pool->ReadHandle(handle, bytes.data(), 4 * kBlock - 1, 50), nullptr);
  EXPECT_EQ(bytes[0], expected.back());
}

TEST(BfhpRegression, GrowthWithoutRoomForIndexBlocksFailsAndChangesNothing) {
  // 8 data blocks fill the root; a ninth needs a new level block as well.
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 11));
  PoolHandle handle = pool->Alloc(8 * kBlock);
  ASSERT_NE(handle, 0u);
  WriteAll(pool.get(), handle, 2);
  HpfsHeader before = pool->Header();
  EXPECT_EQ(pool->Realloc(handle, 9 * kBlock), 0u);
  EXPECT_EQ(pool->Header().blockCount, before.blockCount);
  EXPECT_EQ(pool->Header().freeCount, before.freeCount);
  EXPECT_EQ(pool->Depth(handle), 0);
  ExpectAll(pool.get(), handle, 2, 8 * kBlock);
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
  pool.reset();

  pool = AttachHpfs(bytes, &file);
  HpfsHeader before = pool->Header();
  // Block 2 comes first and is fine; the next one is block 0, which no handle may use.
  EXPECT_EQ(pool->Realloc(handle, 4 * kBlock), 0u);
  EXPECT_EQ(pool->Header().freeCount, before.freeCount);
  EXPECT_EQ(pool->Header().blockCount, before.blockCount);
  ExpectAll(pool.get(), handle, 7, kBlock);
  ASSERT_EQ(pool->Flush(), nullptr);
  EXPECT_TRUE(std::equal(file->bytes.begin() + kBlock, file->bytes.begin() + 2 * kBlock,
                         bytes.begin() + kBlock));
}

TEST(BfhpRegression, SixthIndexLevelIsRefused) {
  // 32-byte blocks with one root pointer: depth 5 holds 8^5 blocks, exactly 1 MiB.
  std::vector<u8> bytes = EmptyHpfsBytes(32, 28, 0x7FFFFFFF);
  auto pool = AttachHpfs(bytes);
  PoolHandle handle = pool->Alloc(0);
  ASSERT_EQ(pool->Realloc(handle, 1u << 20), handle);
  EXPECT_EQ(pool->Depth(handle), 5);
  HpfsHeader before = pool->Header();
  EXPECT_EQ(pool->Realloc(handle, (1u << 20) + 1), 0u);
  EXPECT_EQ(pool->Header().blockCount, before.blockCount);
  EXPECT_EQ(pool->Size(handle), 1u << 20);
  // The tail is still reachable, and the handle shrinks back to nothing.
  u8 last = 1;
  EXPECT_EQ(pool->WriteHandle(handle, &last, (1u << 20) - 1, 1), nullptr);
  EXPECT_EQ(pool->Free(handle), nullptr);
  EXPECT_EQ(BlocksAccounted(pool.get()), 0u);
}

TEST(BfhpRegression, AllocReleasesItsRootWhenTheSizeDoesNotFit) {
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 4));
  EXPECT_EQ(pool->Alloc(5 * kBlock), 0u);
  EXPECT_EQ(pool->Header().blockCount, 1u);
  EXPECT_EQ(pool->Header().freeCount, 0u);
  PoolHandle kept = pool->Alloc(0);
  ASSERT_NE(kept, 0u);
  EXPECT_EQ(pool->Alloc(5 * kBlock), 0u);
  EXPECT_EQ(pool->Header().blockCount, 2u);
  EXPECT_EQ(pool->Alloc(kBlock), kept + 1);  // root and one data block: exactly fits
}

// Builds a store with one depth-2 handle and one small one, flushed, and returns its bytes.
std::vector<u8> SampleStore(PoolHandle* big, PoolHandle* small) {
  MemoryFile* file = nullptr;
  auto pool = AttachHpfs(EmptyHpfsBytes(kBlock, kRootHeader, 5000), &file);
  *big = pool->Alloc(9000);
  *small = pool->Alloc(200);
  WriteAll(pool.get(), *big, 1);
  WriteAll(pool.get(), *small, 2);
  pool->Realloc(*big, 8500);  // leaves a free list
  pool->SetRoot(static_cast<u32>(*small));
  EXPECT_EQ(pool->Flush(), nullptr);
  return file->bytes;
}

TEST(BfhpMalformed, BadRootsAndPointersAreRefusedWithInvalidFormat) {
  PoolHandle big, small;
  std::vector<u8> good = SampleStore(&big, &small);
  size_t root = small * kBlock;
  struct Case {
    const char* what;
    size_t at;
    u32 value;
  };
  const Case cases[] = {
      {"depth 6", root + 4, 6},
      {"negative depth", root + 4, 0xFFFF},
      {"size beyond depth 0", root, 8 * kBlock + 1},
  };
  for (const Case& c : cases) {
    std::vector<u8> bytes = good;
    StoreLe32(bytes, c.at, c.value);
    auto pool = AttachHpfs(bytes);
    u8 buffer[16];
    EXPECT_EQ(pool->ReadHandle(small, buffer, 0, 16), ERR_INVALIDFORMAT) << c.what;
    EXPECT_EQ(pool->Size(small), 0u) << c.what;
    EXPECT_EQ(pool->Depth(small), -1) << c.what;
    EXPECT_EQ(pool->Realloc(small, 10), 0u) << c.what;
  }
  // Undamaged, the store keeps its handles and root across the flush and the new attach.
  auto pool = AttachHpfs(good);
  EXPECT_EQ(pool->GetRoot(), small);
  ExpectAll(pool.get(), big, 1, 8500);
  ExpectAll(pool.get(), small, 2, 200);
  EXPECT_EQ(pool->Depth(big), 2);
  u8 buffer[4];
  EXPECT_EQ(pool->ReadHandle(0, buffer, 0, 4), ERR_INVALIDFORMAT);
  EXPECT_EQ(pool->ReadHandle(pool->Header().blockCount, buffer, 0, 4), ERR_INVALIDFORMAT);
  EXPECT_EQ(pool->Free(0x7FFFFFFF), ERR_INVALIDFORMAT);
  // Pointers to block 0 or beyond the store are not followed.
  for (u32 bad : {0u, 0x00FFFFFFu}) {
    std::vector<u8> bytes = good;
    StoreLe32(bytes, small * kBlock + kRootHeader + 4, bad);  // second data block
    StoreLe32(bytes, big * kBlock + kRootHeader, bad);        // the level-1 block
    auto damaged = AttachHpfs(bytes);
    std::vector<u8> out(9000);
    EXPECT_EQ(damaged->ReadHandle(small, out.data(), 0, 200), ERR_INVALIDFORMAT);
    EXPECT_EQ(damaged->ReadHandle(small, out.data(), 0, 64), nullptr);
    EXPECT_EQ(damaged->ReadHandle(big, out.data(), 0, 10), ERR_INVALIDFORMAT);
    EXPECT_EQ(damaged->WriteHandle(big, out.data(), 0, 10), ERR_INVALIDFORMAT);
  }
}

}  // namespace
