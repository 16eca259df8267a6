// Fault injection for tests: one walk drives every kind of injected fault, and a countdown makes
// allocations fail one at a time without a real shortage of memory.
//
// The countdown is shared by the pools FailingPoolsGuard installs as g_ptrPool and g_handlePool
// and by the nothrow forms of operator new (replaced in every program that links
// vorn_test_support). Ordinary (throwing) new is never failed, so GoogleTest and the test's own
// containers are unaffected.
//
//   u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
//     MemoryFile file(original);              // set-up: not counted
//     run.Arm();                              // the countdown starts (or resumes) here
//     ErrorCode error = file.MoveData(0, 100, 50, 16, nullptr);
//     run.Disarm();                           // pauses it
//     EXPECT_EQ(error, run.Injected() ? ERR_NOTENOUGHMEM : nullptr);
//     EXPECT_EQ(run.OutstandingBlocks(), 0);  // every pool block given back
//   });
//
// fn must call run.Arm() (the walk fails the test otherwise, so it cannot be vacuous) and release
// inside fn what it creates. Walks do not nest; only the calling thread may allocate while armed.
#pragma once

#include <functional>

#include "core/pools.h"

// Runs attempt(N) for N = 1, 2, ...; each attempt arms its fault at the Nth call and answers
// whether the fault was reached. Stops after the first attempt that did not reach it (the clean
// run) or that failed the test, and returns the number of attempts.
u32 RunFaultWalk(const char* what, const std::function<bool(u32 at)>& attempt,
                 u32 maxRuns = 100000);

// The countdown: the Nth counted allocation after Arm fails (persistent: every later one too).
namespace AllocationFailures {
void Arm(u32 failAt, bool persistent = false);
void Disarm();
void Pause(bool paused);
bool ShouldFail();  // called by every counted allocation
u32 Counted();
u32 Injected();
}  // namespace AllocationFailures

// Heap pools whose allocations take part in the countdown and which count the blocks they hold.
class FailingPtrPool : public CHeapPtrPool {
 public:
  void* Alloc(u32 size) override;
  void* Realloc(void* block, u32 size) override;
  void Free(void* block) override;
  long outstanding = 0;
};

class FailingHandlePool : public CHeapHandlePool {
 public:
  PoolHandle Alloc(u32 size) override;
  PoolHandle Realloc(PoolHandle handle, u32 size) override;
  ErrorCode Free(PoolHandle handle) override;
  long outstanding = 0;
};

// Installs the failing pools for its lifetime; the countdown is disarmed on both ends.
class FailingPoolsGuard {
 public:
  FailingPoolsGuard();
  ~FailingPoolsGuard();
  FailingPoolsGuard(const FailingPoolsGuard&) = delete;
  FailingPoolsGuard& operator=(const FailingPoolsGuard&) = delete;
  long OutstandingBlocks() const { return ptrPool_.outstanding + handlePool_.outstanding; }

 private:
  CPtrPool* savedPtrPool_;
  CHandlePool* savedHandlePool_;
  FailingPtrPool ptrPool_;
  FailingHandlePool handlePool_;
};

// One run of an allocation-failure walk, with the failure at allocation failAt.
class AllocationFailureRun {
 public:
  AllocationFailureRun(u32 failAt, bool persistent) : failAt_(failAt), persistent_(persistent) {}
  void Arm();
  void Disarm() { AllocationFailures::Pause(true); }
  bool Armed() const { return armed_; }
  bool Injected() const { return armed_ && AllocationFailures::Injected() != 0; }
  long OutstandingBlocks() const { return pools_.OutstandingBlocks(); }

 private:
  FailingPoolsGuard pools_;
  u32 failAt_;
  bool persistent_;
  bool armed_ = false;
};

struct AllocationFailureOptions {
  bool persistent = false;  // after the first injected failure, fail every later allocation
  u32 maxRuns = 100000;
};

u32 RunWithAllocationFailures(const std::function<void(AllocationFailureRun&)>& fn,
                              AllocationFailureOptions options = AllocationFailureOptions());
