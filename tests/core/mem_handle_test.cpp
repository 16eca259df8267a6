#include "core/mem_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "core/pools.h"
#include "support/failing_pools.h"

namespace {

// Heap handle pool that keeps how deeply each block is locked.
class CountingHandlePool : public CHeapHandlePool {
 public:
  void* Lock(PoolHandle handle) override {
    ++depth[handle];
    return CHeapHandlePool::Lock(handle);
  }
  void Unlock(PoolHandle handle, u32 modified) override {
    --depth[handle];
    CHeapHandlePool::Unlock(handle, modified);
  }
  std::map<PoolHandle, int> depth;
};

u32 CapacityFor(u32 count) { return count ? (count / 4096 + 1) * 4096 : 0; }

}  // namespace

// Random allocations, frees (also of free, zero and unknown handles) and nested locks against a
// model of the table: handles from 1, freed ones reused last in first out, the count lowered only
// by freeing the top, the storage in whole chunks of 4096 entries with at least one spare.
TEST(MemHandle, AgreesWithAModelOfTheTable) {
  ASSERT_EQ(MemHandleCount(), 0u) << "an earlier test leaked handles";
  CountingHandlePool pool;
  CHandlePool* saved = g_handlePool;
  g_handlePool = &pool;
  std::mt19937 random(7);
  std::vector<u32> stamps;  // by handle - 1; 0 while free
  std::vector<MemHandle> freeList;
  EXPECT_EQ(MemAlloc(0), 0u);
  for (u32 step = 1; step < 14000; ++step) {
    const u32 count = static_cast<u32>(stamps.size());
    if (random() % 3 != 0) {
      MemHandle expected = freeList.empty() ? count + 1 : freeList.back();
      ASSERT_EQ(MemAlloc(4), expected);
      if (freeList.empty()) stamps.push_back(0);
      if (!freeList.empty()) freeList.pop_back();
      stamps[expected - 1] = step;
      std::memcpy(MemLock(expected), &step, 4);
      MemUnlock(expected);
    } else {
      MemHandle handle = random() % 4 == 0 && count ? count : random() % (count + 2);
      MemFree(handle);
      if (handle == 0 || handle > count || !stamps[handle - 1]) continue;
      stamps[handle - 1] = 0;
      if (handle == count) stamps.pop_back();
      if (handle != count) freeList.push_back(handle);
    }
    ASSERT_EQ(MemHandleCount(), stamps.size()) << step;
    ASSERT_EQ(MemHandleCapacity(), CapacityFor(MemHandleCount())) << step;
    const MemHandle probe = 1 + random() % (stamps.size() + 1);
    void* first = MemLock(probe);
    ASSERT_EQ(first != nullptr, probe <= stamps.size() && stamps[probe - 1]) << probe;
    if (!first) continue;
    EXPECT_EQ(MemLock(probe), first);
    const PoolHandle block = pool.HandleOf(first);
    EXPECT_EQ(pool.depth[block], 1) << "nested locks ask the pool once";
    MemUnlock(probe);
    EXPECT_EQ(pool.depth[block], 1);
    EXPECT_EQ(std::memcmp(first, &stamps[probe - 1], 4), 0);
    MemUnlock(probe);
    MemUnlock(probe);  // one too many: must not unlock the pool's block again
    ASSERT_EQ(pool.depth[block], 0);
    for (const auto& [locked, depth] : pool.depth) ASSERT_EQ(depth, 0) << "pool block " << locked;
  }
  ASSERT_GT(stamps.size(), 4096u);
  // Only with every entry in use does freeing from the top down empty the table.
  for (; !freeList.empty(); freeList.pop_back()) ASSERT_EQ(MemAlloc(4), freeList.back());
  for (MemHandle h = static_cast<MemHandle>(stamps.size()); h > 0; --h) {
    MemFree(h);
    ASSERT_EQ(MemHandleCount(), h - 1);
    ASSERT_EQ(MemHandleCapacity(), CapacityFor(h - 1));
  }
  g_handlePool = saved;
}
