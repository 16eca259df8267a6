// The pools and the class names they answer to.
#include "core/pools.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/object.h"
#include "support/failing_pools.h"
#include "support/memory_file.h"

namespace {

// Built before the heap pools would be if their start-up order were left to the linker (this
// file is linked ahead of the toolkit): the pools must already work here.
struct AllocatesDuringStartUp {
  AllocatesDuringStartUp() {
    void* block = g_ptrPool->Alloc(64);
    allocated = block != nullptr;
    g_ptrPool->Free(block);
  }
  bool allocated = false;
};
AllocatesDuringStartUp startUpUser;

const char kNameTestLayer[] = "CTestLayer";
const ClassName CLASS_CTESTLAYER = kNameTestLayer;

// A named file kind two levels below CFile: the chain must pass through CFile to CObject.
class CTestLayer : public MemoryFile {
  VORN_DECLARE_CLASS(CTestLayer, MemoryFile, CLASS_CTESTLAYER)
};

}  // namespace

TEST(HeapPools, RegressionUsableByOtherStaticObjectsAtStartUp) {
  EXPECT_TRUE(startUpUser.allocated);
}

// A failed Alloc or Realloc reports the shortage and keeps the old block. Sizes near 4 GiB once
// wrapped (size + 4) to a tiny block that the size word then claimed was 4 GiB long.
TEST(SizedPtrPool, ShortagesAndRegressionSizesNearFourGigabytesKeepTheOldBlock) {
  CSizedPtrPool pool;
  AllocationFailureRun run(1, true);
  u8* block = static_cast<u8*>(pool.Alloc(8));
  ASSERT_NE(block, nullptr);
  std::memcpy(block, "abcdefgh", 8);
  run.Arm();
  for (u32 size : {0xFFFFFFFFu, 0xFFFFFFFEu, 8u, 100u}) {
    EXPECT_EQ(pool.Alloc(size), nullptr) << size;
    EXPECT_EQ(pool.GetError(), ERR_NOTENOUGHMEMORY);
    EXPECT_EQ(pool.Realloc(block, size), nullptr) << size;
    EXPECT_EQ(pool.GetError(), ERR_NOTENOUGHMEMORY);
    EXPECT_EQ(run.Injected(), size < 0xFFFFFFFEu) << "oversized requests never reach g_ptrPool";
  }
  run.Disarm();
  EXPECT_EQ(pool.Size(block), 8u);
  EXPECT_EQ(std::memcmp(block, "abcdefgh", 8), 0);
  pool.Free(block);
  EXPECT_EQ(run.OutstandingBlocks(), 0);
}

// Names compare by identity, and the pools reach CObject through a virtual base, whose address
// differs from the pool's own.
TEST(CastTo, AnswersForEveryNamedClassOnTheChainAndNothingElse) {
  CTestLayer layer;
  MemoryFile file;
  CSizedPtrPool ptrPool;
  char lookalike[16];
  std::strcpy(lookalike, CLASS_COBJECT);
  const struct {
    CObject* object;
    ClassName name;
    const void* expected;
  } rows[] = {
      {&layer, CLASS_CTESTLAYER, &layer},
      {&layer, CLASS_CFILE, static_cast<CFile*>(&layer)},
      {&layer, CLASS_COBJECT, static_cast<CObject*>(&layer)},
      {&layer, CLASS_CFILESERVICE, nullptr},
      {&layer, lookalike, nullptr},
      {&file, CLASS_CTESTLAYER, nullptr},
      {&ptrPool, CLASS_CPTRPOOL, static_cast<CPtrPool*>(&ptrPool)},
      {&ptrPool, CLASS_COBJECT, static_cast<CObject*>(&ptrPool)},
      {&ptrPool, CLASS_CHANDLEPOOL, nullptr},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.object->CastTo(row.name), row.expected)
        << row.object->GetClassName() << " as " << row.name;
  }
  EXPECT_EQ(file.GetClassName(), CLASS_CFILE) << "the nearest named base";
}
