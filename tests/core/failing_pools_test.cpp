// The allocation-failure machinery that the other suites rely on: if it failed to inject, their
// walks would pass without exercising anything.
#include "support/failing_pools.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace {
struct Small {
  int value = 7;
};
}  // namespace

TEST(AllocationFailures, CountdownFailsExactlyTheNthAcrossPoolsAndNothrowNew) {
  FailingPoolsGuard pools;
  EXPECT_EQ(g_ptrPool, &pools.ptrPool());
  EXPECT_EQ(g_handlePool, &pools.handlePool());
  AllocationFailures::Arm(3);
  void* first = g_ptrPool->Alloc(8);
  PoolHandle second = g_handlePool->Alloc(8);
  Small* third = new (std::nothrow) Small;
  Small* fourth = new (std::nothrow) Small[2];
  AllocationFailures::Disarm();
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, 0u);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_EQ(AllocationFailures::Injected(), 1u);
  EXPECT_EQ(AllocationFailures::Counted(), 4u);
  EXPECT_EQ(pools.OutstandingBlocks(), 2);
  g_ptrPool->Free(first);
  g_handlePool->Free(second);
  delete[] fourth;
  EXPECT_EQ(pools.OutstandingBlocks(), 0);
}

TEST(AllocationFailures, PersistentModeFailsEverythingFromTheNthOnAndReallocKeepsTheBlock) {
  FailingPoolsGuard pools;
  void* block = g_ptrPool->Alloc(8);
  ASSERT_NE(block, nullptr);
  AllocationFailures::Arm(2, true);
  void* moved = g_ptrPool->Realloc(block, 64);
  ASSERT_NE(moved, nullptr);
  block = moved;
  EXPECT_EQ(g_ptrPool->Realloc(block, 128), nullptr);
  EXPECT_EQ(g_handlePool->Alloc(4), 0u);
  EXPECT_EQ(new (std::nothrow) Small, nullptr);
  AllocationFailures::Pause();
  Small* unpaused = new (std::nothrow) Small;
  EXPECT_NE(unpaused, nullptr) << "paused: nothing counted";
  delete unpaused;
  EXPECT_EQ(AllocationFailures::Injected(), 3u);
  AllocationFailures::Disarm();
  g_ptrPool->Free(block);
}

TEST(AllocationFailures, GuardRestoresThePoolsItReplaced) {
  CPtrPool* ptrPool = g_ptrPool;
  CHandlePool* handlePool = g_handlePool;
  {
    FailingPoolsGuard pools;
    EXPECT_NE(g_ptrPool, ptrPool);
  }
  EXPECT_EQ(g_ptrPool, ptrPool);
  EXPECT_EQ(g_handlePool, handlePool);
  EXPECT_FALSE(AllocationFailures::Active());
}

TEST(AllocationFailures, LocksCountOnlyWhenAsked) {
  FailingPoolsGuard pools;
  PoolHandle handle = g_handlePool->Alloc(4);
  AllocationFailures::Arm(1);
  EXPECT_NE(g_handlePool->Lock(handle), nullptr);
  pools.handlePool().countLocks = true;
  EXPECT_EQ(g_handlePool->Lock(handle), nullptr);
  AllocationFailures::Disarm();
  g_handlePool->Free(handle);
}

TEST(AllocationFailures, WalkVisitsEveryAllocationThenOneCleanRun) {
  std::vector<std::vector<bool>> outcomes;
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    std::vector<bool> got;
    run.Arm();
    for (int i = 0; i < 3; ++i) {
      void* block = g_ptrPool->Alloc(4);
      got.push_back(block != nullptr);
      g_ptrPool->Free(block);
    }
    outcomes.push_back(got);
    EXPECT_EQ(run.Injected(), run.FailAt() <= 3);
  });
  EXPECT_EQ(runs, 4u);
  std::vector<std::vector<bool>> expected = {
      {false, true, true}, {true, false, true}, {true, true, false}, {true, true, true}};
  EXPECT_EQ(outcomes, expected);
}

TEST(AllocationFailures, WalkThatNeverArmsIsReported) {
  EXPECT_NONFATAL_FAILURE(RunWithAllocationFailures([](AllocationFailureRun&) {}),
                          "never called run.Arm()");
}

TEST(AllocationFailures, WalkNamesTheRunThatFailed) {
  EXPECT_NONFATAL_FAILURE(RunWithAllocationFailures([](AllocationFailureRun& run) {
                            run.Arm();
                            void* a = g_ptrPool->Alloc(4);
                            void* b = g_ptrPool->Alloc(4);
                            g_ptrPool->Free(a);
                            g_ptrPool->Free(b);
                            EXPECT_NE(run.FailAt(), 2u);
                          }),
                          "injected at allocation 2");
}
