#include "support/failing_pools.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
std::atomic<bool> active{false};
std::atomic<bool> persistentMode{false};
std::atomic<u32> failAtCount{0};
std::atomic<u32> counted{0};
std::atomic<u32> injected{0};
bool guardInstalled = false;
}  // namespace

void AllocationFailures::Arm(u32 failAt, bool persistent) {
  counted = 0;
  injected = 0;
  failAtCount = failAt;
  persistentMode = persistent;
  active = failAt != 0;
}

void AllocationFailures::Pause() { active = false; }
void AllocationFailures::Resume() { active = failAtCount != 0; }

void AllocationFailures::Disarm() {
  active = false;
  failAtCount = 0;
}

bool AllocationFailures::Active() { return active; }
u32 AllocationFailures::Counted() { return counted; }
u32 AllocationFailures::Injected() { return injected; }

bool AllocationFailures::ShouldFail() {
  if (!active) return false;
  u32 number = ++counted;
  bool fail = persistentMode ? number >= failAtCount : number == failAtCount;
  if (fail) ++injected;
  return fail;
}

void* FailingPtrPool::Alloc(u32 size) {
  if (AllocationFailures::ShouldFail()) return nullptr;
  void* block = inner_->Alloc(size);
  if (block) ++outstanding_;
  return block;
}

void* FailingPtrPool::Realloc(void* block, u32 size) {
  if (AllocationFailures::ShouldFail()) return nullptr;
  void* moved = inner_->Realloc(block, size);
  if (!block && moved) ++outstanding_;
  return moved;
}

void FailingPtrPool::Free(void* block) {
  if (block) --outstanding_;
  inner_->Free(block);
}

u32 FailingPtrPool::Size(void* block) { return inner_->Size(block); }

PoolHandle FailingHandlePool::Alloc(u32 size) {
  if (AllocationFailures::ShouldFail()) return 0;
  PoolHandle handle = inner_->Alloc(size);
  if (handle) ++outstanding_;
  return handle;
}

PoolHandle FailingHandlePool::Realloc(PoolHandle handle, u32 size) {
  if (AllocationFailures::ShouldFail()) return 0;
  PoolHandle moved = inner_->Realloc(handle, size);
  if (!handle && moved) ++outstanding_;
  return moved;
}

ErrorCode FailingHandlePool::Free(PoolHandle handle) {
  if (handle) --outstanding_;
  return inner_->Free(handle);
}

void* FailingHandlePool::Lock(PoolHandle handle) {
  if (countLocks && AllocationFailures::ShouldFail()) return nullptr;
  return inner_->Lock(handle);
}

FailingPoolsGuard::FailingPoolsGuard()
    : savedPtrPool_(g_ptrPool),
      savedHandlePool_(g_handlePool),
      ptrPool_(g_ptrPool),
      handlePool_(g_handlePool) {
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
  if (wasArmed_) {
    AllocationFailures::Resume();
  } else {
    wasArmed_ = true;
    AllocationFailures::Arm(failAt_, persistent_);
  }
}

void AllocationFailureRun::Disarm() { AllocationFailures::Pause(); }

bool AllocationFailureRun::Injected() const {
  return wasArmed_ && AllocationFailures::Injected() != 0;
}

int FailedPartsSoFar() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return test ? test->result()->total_part_count() : 0;
}

u32 RunWithAllocationFailures(const std::function<void(AllocationFailureRun&)>& fn,
                              AllocationFailureOptions options) {
  for (u32 failAt = 1; failAt <= options.maxRuns; ++failAt) {
    SCOPED_TRACE(::testing::Message() << "allocation failure injected at allocation " << failAt);
    int failuresBefore = FailedPartsSoFar();
    bool injectedAny;
    {
      FailingPoolsGuard pools;
      AllocationFailureRun run(failAt, options.persistent, &pools);
      fn(run);
      AllocationFailures::Pause();
      if (!run.WasArmed()) {
        ADD_FAILURE() << "the operation under test never called run.Arm()";
        return failAt;
      }
      injectedAny = run.Injected();
    }
    // One failing run says enough; the rest of the walk would repeat it.
    if (FailedPartsSoFar() != failuresBefore) return failAt;
    if (!injectedAny) return failAt;
  }
  ADD_FAILURE() << "allocation-failure walk did not end within " << options.maxRuns << " runs";
  return options.maxRuns;
}
