#include "support/failing_pools.h"

#include <gtest/gtest.h>

namespace {

struct Countdown {
  bool active = false, paused = false, persistent = false;
  u32 failAt = 0, counted = 0, injected = 0;
} g_countdown;
bool g_installed = false;

int FailedParts() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return test ? test->result()->total_part_count() : 0;
}

// Heap pools whose allocations take part in the countdown and which count the blocks they hold.
template <class Base, class Block, class FreeResult>
class Failing : public Base {
 public:
  Block Alloc(u32 size) override {
    Block block = AllocationFailures::ShouldFail() ? Block{} : Base::Alloc(size);
    outstanding += block != Block{};
    return block;
  }
  Block Realloc(Block block, u32 size) override {
    if (AllocationFailures::ShouldFail()) return Block{};
    Block moved = Base::Realloc(block, size);
    outstanding += !block && moved;
    return moved;
  }
  FreeResult Free(Block block) override {
    outstanding -= block != Block{};
    return Base::Free(block);
  }
  long outstanding = 0;
};

}  // namespace

struct AllocationFailureRun::Pools {
  CPtrPool* savedPtrPool = g_ptrPool;
  CHandlePool* savedHandlePool = g_handlePool;
  Failing<CHeapPtrPool, void*, void> ptrPool;
  Failing<CHeapHandlePool, PoolHandle, ErrorCode> handlePool;
};

u32 RunFaultWalk(const char* what, const std::function<bool(u32 at)>& attempt, u32 maxRuns) {
  for (u32 at = 1; at <= maxRuns; ++at) {
    SCOPED_TRACE(::testing::Message() << what << " fault injected at call " << at);
    const int failuresBefore = FailedParts();
    if (!attempt(at) || FailedParts() != failuresBefore) return at;
  }
  ADD_FAILURE() << what << " fault walk did not end within " << maxRuns << " runs";
  return maxRuns;
}

bool AllocationFailures::ShouldFail() {
  Countdown& c = g_countdown;
  if (!c.active || c.paused) return false;
  const u32 number = ++c.counted;
  const bool fail = c.persistent ? number >= c.failAt : number == c.failAt;
  c.injected += fail;
  return fail;
}

AllocationFailureRun::AllocationFailureRun(u32 failAt, bool persistent) : pools_(new Pools) {
  if (g_installed) ADD_FAILURE() << "allocation-failure runs nested";
  g_installed = true;
  g_countdown = Countdown{false, false, persistent, failAt, 0, 0};
  g_ptrPool = &pools_->ptrPool;
  g_handlePool = &pools_->handlePool;
}

AllocationFailureRun::~AllocationFailureRun() {
  g_countdown.active = false;
  g_ptrPool = pools_->savedPtrPool;
  g_handlePool = pools_->savedHandlePool;
  g_installed = false;
}

void AllocationFailureRun::Arm() {
  armed_ = g_countdown.active = true;
  g_countdown.paused = false;
}

void AllocationFailureRun::Disarm() { g_countdown.paused = true; }
bool AllocationFailureRun::Injected() const { return armed_ && g_countdown.injected != 0; }

long AllocationFailureRun::OutstandingBlocks() const {
  return pools_->ptrPool.outstanding + pools_->handlePool.outstanding;
}

u32 RunWithAllocationFailures(const std::function<void(AllocationFailureRun&)>& fn,
                              bool persistent) {
  return RunFaultWalk("allocation", [&](u32 at) {
    AllocationFailureRun run(at, persistent);
    fn(run);
    g_countdown.active = false;
    if (!run.Armed()) ADD_FAILURE() << "the operation under test never called run.Arm()";
    return run.Injected();
  });
}
