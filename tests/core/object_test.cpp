#include "core/object.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/pools.h"
#include "support/memory_file.h"

namespace {

const char kNameTestLayer[] = "CTestLayer";
const ClassName CLASS_CTESTLAYER = kNameTestLayer;

// A named file kind two levels below CFile: the chain must pass through CFile to CObject.
class CTestLayer : public MemoryFile {
  VORN_DECLARE_CLASS(CTestLayer, MemoryFile, CLASS_CTESTLAYER)
};

}  // namespace

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
