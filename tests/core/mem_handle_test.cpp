#include "core/mem_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "core/pools.h"
#include "support/failing_pools.h"

namespace {

// Heap handle pool that keeps the lock depth of every handle and can refuse to lock one.
class CountingHandlePool : public CHeapHandlePool {
 public:
  void* Lock(PoolHandle handle) override {
    if (handle == refuse) return nullptr;
    ++depth[handle];
    ++locks[handle];
    return CHeapHandlePool::Lock(handle);
  }
  void Unlock(PoolHandle handle, u32 modified) override {
    --depth[handle];
    lastModified = modified;
    CHeapHandlePool::Unlock(handle, modified);
  }
  std::map<PoolHandle, int> depth;
  std::map<PoolHandle, int> locks;
  PoolHandle refuse = 0;
  u32 lastModified = 0;
};

class MemHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MemHandleCount(), 0u) << "an earlier test leaked handles"; }
  // Freeing never compacts, so only freeing from the top down empties the table.
  void TearDown() override {
    std::sort(live.begin(), live.end(), std::greater<MemHandle>());
    for (MemHandle handle : live) MemFree(handle);
    EXPECT_EQ(MemHandleCount(), 0u);
    EXPECT_EQ(MemHandleCapacity(), 0u);
  }
  MemHandle Alloc(u32 size) {
    MemHandle handle = MemAlloc(size);
    if (handle) live.push_back(handle);
    return handle;
  }
  void Free(MemHandle handle) {
    MemFree(handle);
    for (auto& h : live)
      if (h == handle) h = 0;
  }
  std::vector<MemHandle> live;
};

}  // namespace

TEST_F(MemHandleTest, HandlesStartAtOneAndFreedOnesAreReusedLastInFirstOut) {
  EXPECT_EQ(MemAlloc(0), 0u);
  EXPECT_EQ(MemHandleCount(), 0u);
  EXPECT_EQ(Alloc(8), 1u);
  EXPECT_EQ(Alloc(8), 2u);
  EXPECT_EQ(Alloc(8), 3u);
  EXPECT_EQ(Alloc(8), 4u);
  Free(2);
  Free(3);
  EXPECT_EQ(MemHandleCount(), 4u) << "freeing below the top does not compact";
  EXPECT_EQ(Alloc(8), 3u);
  EXPECT_EQ(Alloc(8), 2u);
  EXPECT_EQ(Alloc(8), 5u);
}

TEST_F(MemHandleTest, FreeingTheTopLowersTheCountAndKeepsLowerFreedHandlesReusable) {
  Alloc(8);
  Alloc(8);
  Alloc(8);
  Free(2);
  Free(3);
  EXPECT_EQ(MemHandleCount(), 2u);
  EXPECT_EQ(MemLock(3), nullptr) << "above the count";
  EXPECT_EQ(Alloc(8), 2u);
  EXPECT_EQ(Alloc(8), 3u);
  EXPECT_EQ(MemHandleCount(), 3u);
}

TEST_F(MemHandleTest, InvalidAndFreedHandlesAreRejectedOrIgnored) {
  MemHandle a = Alloc(16);
  MemHandle b = Alloc(16);
  std::memcpy(MemLock(b), "kept", 5);
  MemUnlock(b);
  Free(a);
  EXPECT_EQ(MemLock(0), nullptr);
  EXPECT_EQ(MemLock(a), nullptr);
  EXPECT_EQ(MemLock(3), nullptr);
  MemFree(a);  // twice: ignored, must not reach the pool again
  MemFree(0);
  MemFree(99);
  MemUnlock(0);
  MemUnlock(a);
  MemUnlock(99);
  EXPECT_EQ(MemHandleCount(), 2u);
  EXPECT_STREQ(static_cast<char*>(MemLock(b)), "kept");
  MemUnlock(b);
  EXPECT_EQ(Alloc(16), a) << "the freed entry is on the free list exactly once";
  EXPECT_EQ(Alloc(16), 3u);
}

TEST_F(MemHandleTest, NestedLocksAskThePoolOnceAndUnlockOnTheLast) {
  CountingHandlePool counting;
  CHandlePool* saved = g_handlePool;
  g_handlePool = &counting;
  MemHandle handle = Alloc(32);
  ASSERT_NE(handle, 0u);
  void* first = MemLock(handle);
  void* second = MemLock(handle);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  PoolHandle block = counting.HandleOf(first);
  EXPECT_EQ(counting.locks[block], 1);
  MemUnlock(handle);
  EXPECT_EQ(counting.depth[block], 1) << "one MemUnlock of two leaves the block locked";
  MemUnlock(handle);
  EXPECT_EQ(counting.depth[block], 0);
  EXPECT_EQ(counting.lastModified, 1u);
  MemUnlock(handle);  // one too many: must not unlock the pool's block again
  EXPECT_EQ(counting.depth[block], 0);

  // A block the pool refuses to lock: null, and the lock count stays 0.
  counting.refuse = block;
  EXPECT_EQ(MemLock(handle), nullptr);
  counting.refuse = 0;
  EXPECT_NE(MemLock(handle), nullptr);
  MemUnlock(handle);
  EXPECT_EQ(counting.depth[block], 0) << "the refused lock must not have counted";
  for (const auto& entry : counting.depth) EXPECT_EQ(entry.second, 0) << "storage left locked";
  Free(handle);
  g_handlePool = saved;
}

TEST_F(MemHandleTest, StorageGrowsAndShrinksInWholeChunksOf4096) {
  std::vector<MemHandle> handles;
  for (u32 i = 0; i < 4095; ++i) handles.push_back(Alloc(1));
  EXPECT_EQ(MemHandleCount(), 4095u);
  EXPECT_EQ(MemHandleCapacity(), 4096u);
  handles.push_back(Alloc(1));
  EXPECT_EQ(handles.back(), 4096u);
  EXPECT_EQ(MemHandleCapacity(), 8192u) << "always at least one spare entry";
  Free(4096);
  EXPECT_EQ(MemHandleCount(), 4095u);
  EXPECT_EQ(MemHandleCapacity(), 4096u);
  // Contents survive the moves of the storage.
  *static_cast<char*>(MemLock(4000)) = 'x';
  MemUnlock(4000);
  EXPECT_EQ(Alloc(1), 4096u);
  Free(4096);
  EXPECT_EQ(*static_cast<char*>(MemLock(4000)), 'x');
  MemUnlock(4000);
}

TEST_F(MemHandleTest, AllocationFailuresLeaveTheTableAsItWas) {
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    MemHandle handle = MemAlloc(16);
    run.Disarm();
    if (run.Injected()) {
      EXPECT_EQ(handle, 0u);
      EXPECT_EQ(MemHandleCount(), 0u);
      EXPECT_EQ(MemHandleCapacity(), 0u);
    } else {
      EXPECT_EQ(handle, 1u);
      MemFree(handle);
    }
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 3u) << "the block, then the storage";
}

TEST_F(MemHandleTest, FailedGrowthAcrossAChunkKeepsCountAndContents) {
  for (u32 i = 0; i < 4095; ++i) Alloc(4);
  std::memcpy(MemLock(4095), "top", 4);
  MemUnlock(4095);
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    MemHandle handle = MemAlloc(4);
    run.Disarm();
    if (run.Injected()) {
      EXPECT_EQ(handle, 0u);
      EXPECT_EQ(MemHandleCount(), 4095u);
      EXPECT_EQ(MemHandleCapacity(), 4096u);
    } else {
      EXPECT_EQ(handle, 4096u);
      EXPECT_EQ(MemHandleCapacity(), 8192u);
    }
    EXPECT_STREQ(static_cast<char*>(MemLock(4095)), "top");
    MemUnlock(4095);
    // Freeing the top crosses back into the first chunk; a failed shrink must still free it.
    run.Arm();
    MemFree(handle);
    run.Disarm();
    EXPECT_EQ(MemHandleCount(), 4095u);
    EXPECT_EQ(MemLock(4096), nullptr);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 4u) << "the block, the storage's growth, then its shrink";
}
