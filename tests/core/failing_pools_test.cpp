// The fault walk that the other suites rely on: if it failed to inject, their walks would pass
// without exercising anything.
#include "support/failing_pools.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <new>
#include <vector>

TEST(AllocationFailures, WalkFailsEachCountedAllocationOnceThenRunsClean) {
  for (bool persistent : {false, true}) {
    std::vector<std::vector<bool>> outcomes;
    AllocationFailureOptions options;
    options.persistent = persistent;
    const u32 runs = RunWithAllocationFailures(
        [&](AllocationFailureRun& run) {
          void* uncounted = g_ptrPool->Alloc(4);
          run.Arm();
          void* block = g_ptrPool->Alloc(4);
          PoolHandle handle = g_handlePool->Alloc(4);
          int* object = new (std::nothrow) int[2];
          run.Disarm();
          void* paused = g_ptrPool->Alloc(4);
          outcomes.push_back({block != nullptr, handle != 0, object != nullptr, paused != nullptr});
          g_ptrPool->Free(block);
          g_ptrPool->Free(paused);
          g_ptrPool->Free(uncounted);
          g_handlePool->Free(handle);
          delete[] object;
          EXPECT_EQ(run.OutstandingBlocks(), 0);
        },
        options);
    EXPECT_EQ(runs, 4u);
    const std::vector<std::vector<bool>> expected = {{false, !persistent, !persistent, true},
                                                     {true, false, !persistent, true},
                                                     {true, true, false, true},
                                                     {true, true, true, true}};
    EXPECT_EQ(outcomes, expected) << persistent;
  }
  EXPECT_NONFATAL_FAILURE(RunWithAllocationFailures([](AllocationFailureRun&) {}),
                          "never called run.Arm()");
}
