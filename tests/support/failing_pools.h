// Fault injection for tests: one walk drives every kind of injected fault, and a countdown makes
// allocations fail one at a time without a real shortage of memory.
//
// The countdown is shared by the pools that an AllocationFailureRun installs as g_ptrPool and
// g_handlePool and by the nothrow forms of operator new (replaced in every program that links
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
#include <memory>

#include "core/pools.h"

// Runs attempt(N) for N = 1, 2, ...; each attempt arms its fault at the Nth call and answers
// whether the fault was reached. Stops after the first attempt that did not reach it (the clean
// run) or that failed the test, and returns the number of attempts.
u32 RunFaultWalk(const char* what, const std::function<bool(u32 at)>& attempt,
                 u32 maxRuns = 100000);

namespace AllocationFailures {
bool ShouldFail();  // called by every counted allocation
}

// One run of an allocation-failure walk: for its lifetime the failing pools serve g_ptrPool and
// g_handlePool, and the failAt-th counted allocation after Arm fails (when persistent, every
// later one too).
class AllocationFailureRun {
 public:
  AllocationFailureRun(u32 failAt, bool persistent);
  ~AllocationFailureRun();
  AllocationFailureRun(const AllocationFailureRun&) = delete;
  AllocationFailureRun& operator=(const AllocationFailureRun&) = delete;
  void Arm();
  void Disarm();
  bool Armed() const { return armed_; }
  bool Injected() const;
  long OutstandingBlocks() const;  // pool blocks not given back

  struct Pools;

 private:
  std::unique_ptr<Pools> pools_;
  bool armed_ = false;
};

// persistent: after the first injected failure, fail every later allocation too.
u32 RunWithAllocationFailures(const std::function<void(AllocationFailureRun&)>& fn,
                              bool persistent = false);
