#include "support/failing_pools.h"

#include <gtest/gtest.h>

namespace {
bool active = false, paused = false, persistentMode = false, guardInstalled = false;
u32 failAtCount = 0, counted = 0, injected = 0;

int FailedParts() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return test ? test->result()->total_part_count() : 0;
}
}  // namespace

u32 RunFaultWalk(const char* what, const std::function<bool(u32 at)>& attempt, u32 maxRuns) {
  for (u32 at = 1; at <= maxRuns; ++at) {
    SCOPED_TRACE(::testing::Message() << what << " fault injected at call " << at);
    const int failuresBefore = FailedParts();
    if (!attempt(at) || FailedParts() != failuresBefore) return at;
  }
  ADD_FAILURE() << what << " fault walk did not end within " << maxRuns << " runs";
  return maxRuns;
}

void AllocationFailures::Arm(u32 failAt, bool persistent) {
  counted = injected = 0;
  failAtCount = failAt;
  persistentMode = persistent;
  active = true;
  paused = false;
}

void AllocationFailures::Disarm() { active = false; }
void AllocationFailures::Pause(bool pause) { paused = pause; }
u32 AllocationFailures::Counted() { return counted; }
u32 AllocationFailures::Injected() { return injected; }

bool AllocationFailures::ShouldFail() {
  if (!active || paused) return false;
  const u32 number = ++counted;
  const bool fail = persistentMode ? number >= failAtCount : number == failAtCount;
  injected += fail;
  return fail;
}

void* FailingPtrPool::Alloc(u32 size) {
  void* block = AllocationFailures::ShouldFail() ? nullptr : CHeapPtrPool::Alloc(size);
  outstanding += block != nullptr;
  return block;
}

void* FailingPtrPool::Realloc(void* block, u32 size) {
  if (AllocationFailures::ShouldFail()) return nullptr;
  void* moved = CHeapPtrPool::Realloc(block, size);
  outstanding += !block && moved;
  return moved;
}

void FailingPtrPool::Free(void* block) {
  outstanding -= block != nullptr;
  CHeapPtrPool::Free(block);
}

PoolHandle FailingHandlePool::Alloc(u32 size) {
  PoolHandle handle = AllocationFailures::ShouldFail() ? 0 : CHeapHandlePool::Alloc(size);
  outstanding += handle != 0;
  return handle;
}

PoolHandle FailingHandlePool::Realloc(PoolHandle handle, u32 size) {
  if (AllocationFailures::ShouldFail()) return 0;
  PoolHandle moved = CHeapHandlePool::Realloc(handle, size);
  outstanding += !handle && moved;
  return moved;
}

ErrorCode FailingHandlePool::Free(PoolHandle handle) {
  outstanding -= handle != 0;
  return CHeapHandlePool::Free(handle);
}

FailingPoolsGuard::FailingPoolsGuard() : savedPtrPool_(g_ptrPool), savedHandlePool_(g_handlePool) {
  if (guardInstalled) ADD_FAILURE() << "FailingPoolsGuard nested inside another one";
  guardInstalled = true;
  AllocationFailures::Disarm();
  g_ptrPool = &ptrPool_;
  g_handlePool = &handlePool_;
}

FailingPoolsGuard::~FailingPoolsGuard() {
  AllocationFailures::Disarm();
  g_ptrPool = savedPtrPool_;
  g_handlePool = savedHandlePool_;
  guardInstalled = false;
}

void AllocationFailureRun::Arm() {
  if (!armed_) AllocationFailures::Arm(failAt_, persistent_);
  armed_ = true;
  AllocationFailures::Pause(false);
}

u32 RunWithAllocationFailures(const std::function<void(AllocationFailureRun&)>& fn,
                              AllocationFailureOptions options) {
  return RunFaultWalk(
      "allocation",
      [&](u32 at) {
        AllocationFailureRun run(at, options.persistent);
        fn(run);
        AllocationFailures::Disarm();
        if (!run.Armed()) ADD_FAILURE() << "the operation under test never called run.Arm()";
        return run.Injected();
      },
      options.maxRuns);
}
