#include "core/object.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/pools.h"
#include "file/file_service.h"
#include "support/memory_file.h"

namespace {

const char kNameTestLayer[] = "CTestLayer";
const ClassName CLASS_CTESTLAYER = kNameTestLayer;

// A named file kind two levels below CFile: the chain must pass through CFile to CObject.
class CTestLayer : public MemoryFile {
  VORN_DECLARE_CLASS(CTestLayer, MemoryFile, CLASS_CTESTLAYER)
};

class PlainService : public CFileService {};

}  // namespace

TEST(CastTo, AnswersForEveryNamedClassOnTheChainAndNothingElse) {
  CTestLayer layer;
  MemoryFile file;
  PlainService service;
  CSizedPtrPool ptrPool;
  CHeapHandlePool handlePool;

  EXPECT_EQ(layer.GetClassName(), CLASS_CTESTLAYER);
  EXPECT_EQ(layer.CastTo(CLASS_CTESTLAYER), &layer);
  EXPECT_EQ(layer.CastTo(CLASS_CFILE), static_cast<CFile*>(&layer));
  EXPECT_EQ(layer.CastTo(CLASS_COBJECT), static_cast<CObject*>(&layer));
  EXPECT_EQ(layer.CastTo(CLASS_CFILESERVICE), nullptr);
  EXPECT_EQ(layer.CastTo(CLASS_CLZSSFILE), nullptr);

  // Classes without a name of their own report their nearest named base.
  EXPECT_EQ(file.GetClassName(), CLASS_CFILE);
  EXPECT_EQ(file.CastTo(CLASS_CTESTLAYER), nullptr);
  EXPECT_EQ(service.GetClassName(), CLASS_CFILESERVICE);
  EXPECT_EQ(service.CastTo(CLASS_CFILESERVICE), &service);
  EXPECT_EQ(service.CastTo(CLASS_CFILE), nullptr);
  EXPECT_EQ(ptrPool.GetClassName(), CLASS_CPTRPOOL);
  EXPECT_EQ(handlePool.GetClassName(), CLASS_CHANDLEPOOL);
  EXPECT_EQ(ptrPool.CastTo(CLASS_CHANDLEPOOL), nullptr);
}

TEST(CastTo, NullAndLookalikeNamesYieldNull) {
  char lookalike[16];
  std::strcpy(lookalike, CLASS_CFILE);
  char objectLookalike[16];
  std::strcpy(objectLookalike, CLASS_COBJECT);
  CTestLayer layer;
  PlainService service;
  CSizedPtrPool ptrPool;
  CObject* objects[] = {&layer, &service, &ptrPool};
  for (CObject* object : objects) {
    EXPECT_EQ(object->CastTo(nullptr), nullptr) << object->GetClassName();
    EXPECT_EQ(object->CastTo(lookalike), nullptr) << object->GetClassName();
    EXPECT_EQ(object->CastTo(objectLookalike), nullptr) << object->GetClassName();
    EXPECT_EQ(object->CastTo(CLASS_COBJECT), object) << object->GetClassName();
  }
}

// The pools reach CObject through a virtual base, whose address differs from the pool's own.
TEST(CastTo, TypedHelperAdjustsThroughVirtualBases) {
  CSizedPtrPool ptrPool;
  CHeapHandlePool handlePool;
  CObject* asObject = &ptrPool;
  EXPECT_EQ(CastTo<CPtrPool>(asObject), static_cast<CPtrPool*>(&ptrPool));
  EXPECT_EQ(CastTo<CObject>(static_cast<CPtrPool*>(&ptrPool)), asObject);
  EXPECT_EQ(CastTo<CHandlePool>(asObject), nullptr);
  CObject* handleObject = &handlePool;
  EXPECT_EQ(CastTo<CHandlePool>(handleObject), static_cast<CHandlePool*>(&handlePool));
  CTestLayer layer;
  CObject* layerObject = &layer;
  EXPECT_EQ(CastTo<CTestLayer>(layerObject), &layer);
  EXPECT_EQ(CastTo<CFile>(layerObject), static_cast<CFile*>(&layer));
  EXPECT_EQ(CastTo<CFileService>(layerObject), nullptr);
  EXPECT_EQ(CastTo<CFile>(static_cast<CObject*>(nullptr)), nullptr);
}
