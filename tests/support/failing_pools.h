// Allocation-failure injection for tests: every allocation-failure path of the toolkit can be
// driven, one allocation at a time, without a real shortage of memory.
//
// One countdown is shared by three kinds of allocation:
//   - Alloc and Realloc of the FailingPtrPool / FailingHandlePool wrappers (installed as
//     g_ptrPool / g_handlePool by FailingPoolsGuard, or wrapped around any pool of your own),
//   - the nothrow forms of operator new and operator new[] (`new (std::nothrow) T(...)`),
//     replaced in every test program that links vorn_test_support.
// While the countdown is armed with N, the Nth counted allocation fails (returns null / 0);
// in persistent mode every later one fails too. Ordinary (throwing) new is never failed, so
// GoogleTest and the standard containers of the test itself are unaffected.
//
// The usual way is the walker, which reruns an operation with a failure at N = 1, 2, 3, ...
// until a run completes without an injected failure:
//
//   u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
//     MemoryFile file(original);              // set-up: not counted
//     run.Arm();                              // the countdown starts here
//     ErrorCode error = file.MoveData(0, 100, 50, 16, nullptr);
//     run.Disarm();                           // optional: the walker disarms after fn
//     if (run.Injected()) {
//       EXPECT_EQ(error, ERR_NOTENOUGHMEM);   // the right code...
//       EXPECT_EQ(file.bytes, original);      // ...and nothing changed
//     } else {
//       EXPECT_EQ(error, nullptr);
//     }
//     EXPECT_EQ(run.OutstandingBlocks(), 0); // every pool block given back
//   });
//   EXPECT_EQ(runs, 2u);                      // one failing run, then the clean one
//
// Without the walker: FailingPoolsGuard guard; AllocationFailures::Arm(n); ...; Disarm().
// A pool of your own (say the handle pool a file system keeps in a file) is wrapped the same
// way: FailingHandlePool failing(&yourPool); hand `&failing` to the code under test.
//
// Rules of use:
//   - fn must call run.Arm() (the walker fails the test otherwise, so a walk cannot be vacuous).
//   - Everything fn creates must be released inside fn (LeakSanitizer in the sanitized build
//     reports what escapes; OutstandingBlocks() checks pool blocks on every platform).
//   - Do not nest guards or walks; the walker installs its own FailingPoolsGuard.
//   - Only the calling thread should allocate while a run is armed (the count is global).
#pragma once

#include <functional>

#include "core/pools.h"

// The shared countdown. Arm(n): the nth counted allocation from now fails (n >= 1). Pause and
// Resume stop and restart counting without losing the position (set-up between two operations).
class AllocationFailures {
 public:
  static void Arm(u32 failAt, bool persistent = false);
  static void Pause();
  static void Resume();
  static void Disarm();
  static bool Active();
  // Counted allocations and injected failures since the last Arm.
  static u32 Counted();
  static u32 Injected();
  // Called by every counted allocation: true when this one is to fail.
  static bool ShouldFail();
};

// Pointer pool that forwards to `inner` and fails allocations when the countdown says so.
// Injected failures record nothing, like the heap pool.
class FailingPtrPool : public CPtrPool {
 public:
  explicit FailingPtrPool(CPtrPool* inner) : inner_(inner) {}
  void* Alloc(u32 size) override;
  void* Realloc(void* block, u32 size) override;
  void Free(void* block) override;
  u32 Size(void* block) override;
  ErrorCode GetError() override { return inner_->GetError(); }

  // Blocks allocated through this pool minus blocks freed through it.
  long OutstandingBlocks() const { return outstanding_; }

 private:
  CPtrPool* inner_;
  long outstanding_ = 0;
};

// Handle pool that forwards to `inner` and fails Alloc and Realloc when the countdown says so;
// with countLocks set, Lock is counted and failed too (for LOCKFAIL paths).
class FailingHandlePool : public CHandlePool {
 public:
  explicit FailingHandlePool(CHandlePool* inner) : inner_(inner) {}
  PoolHandle Alloc(u32 size) override;
  PoolHandle Realloc(PoolHandle handle, u32 size) override;
  ErrorCode Free(PoolHandle handle) override;
  void* Lock(PoolHandle handle) override;
  void Unlock(PoolHandle handle, u32 modified) override { inner_->Unlock(handle, modified); }
  void* FindLocked(PoolHandle handle) override { return inner_->FindLocked(handle); }
  PoolHandle HandleOf(void* locked) override { return inner_->HandleOf(locked); }
  u32 Size(PoolHandle handle) override { return inner_->Size(handle); }
  ErrorCode ReadHandle(PoolHandle handle, void* buffer, u32 offset, u32 count) override {
    return inner_->ReadHandle(handle, buffer, offset, count);
  }
  ErrorCode WriteHandle(PoolHandle handle, const void* buffer, u32 offset, u32 count) override {
    return inner_->WriteHandle(handle, buffer, offset, count);
  }
  ErrorCode GetError() override { return inner_->GetError(); }
  ErrorCode Flush() override { return inner_->Flush(); }
  void SetRoot(u32 value) override { inner_->SetRoot(value); }
  u32 GetRoot() override { return inner_->GetRoot(); }

  bool countLocks = false;
  long OutstandingBlocks() const { return outstanding_; }

 private:
  CHandlePool* inner_;
  long outstanding_ = 0;
};

// Installs failing wrappers around the current g_ptrPool and g_handlePool and restores the
// originals when it goes out of scope. The countdown is left disarmed on both ends.
class FailingPoolsGuard {
 public:
  FailingPoolsGuard();
  ~FailingPoolsGuard();
  FailingPoolsGuard(const FailingPoolsGuard&) = delete;
  FailingPoolsGuard& operator=(const FailingPoolsGuard&) = delete;

  FailingPtrPool& ptrPool() { return ptrPool_; }
  FailingHandlePool& handlePool() { return handlePool_; }
  long OutstandingBlocks() const {
    return ptrPool_.OutstandingBlocks() + handlePool_.OutstandingBlocks();
  }

 private:
  CPtrPool* savedPtrPool_;
  CHandlePool* savedHandlePool_;
  FailingPtrPool ptrPool_;
  FailingHandlePool handlePool_;
};

// One run of a walk. Arm starts the countdown (later calls resume it), Disarm pauses it.
class AllocationFailureRun {
 public:
  AllocationFailureRun(u32 failAt, bool persistent, FailingPoolsGuard* pools)
      : failAt_(failAt), persistent_(persistent), pools_(pools) {}
  void Arm();
  void Disarm();
  u32 FailAt() const { return failAt_; }
  // True once a failure was injected in this run.
  bool Injected() const;
  bool WasArmed() const { return wasArmed_; }
  // Pool blocks allocated during this run and not yet given back.
  long OutstandingBlocks() const { return pools_->OutstandingBlocks(); }
  FailingPoolsGuard& pools() { return *pools_; }

 private:
  u32 failAt_;
  bool persistent_;
  FailingPoolsGuard* pools_;
  bool wasArmed_ = false;
};

struct AllocationFailureOptions {
  bool persistent = false;  // after the first injected failure, fail every later allocation
  u32 maxRuns = 100000;     // the walk fails the test when it has not ended by then
};

// Test parts recorded so far in the current test: a walk stops at the first run that adds one.
int FailedPartsSoFar();

// Runs fn with a failure at N = 1, 2, ... (fresh FailingPoolsGuard each run) and stops after the
// first run in which no failure was injected. Returns the number of runs, the clean one included.
u32 RunWithAllocationFailures(const std::function<void(AllocationFailureRun&)>& fn,
                              AllocationFailureOptions options = AllocationFailureOptions());
