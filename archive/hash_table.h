// Intrusive chained hash table: nodes belong to the caller's allocator, the table only links
// them through a next-node pointer at linkOffset inside each node. The hash and compare
// functions receive the address keyOffset bytes into a node (or the caller's probe).
#pragma once

#include "core/errors.h"
#include "core/object.h"

typedef u32 (*HashTableHash)(const void* key, u32 bucketCount);
typedef i16 (*HashTableCompare)(const void* probe, const void* nodeKey);
typedef void (*HashTableFreeNode)(void* node, void* userValue);

class CHashTable : public CObject {
 public:
  // bucketCount buckets from g_ptrPool, zeroed; when they cannot be had the table has no bucket
  // array and every operation fails (see HasBuckets).
  CHashTable(u32 bucketCount, HashTableHash hash, HashTableCompare compare,
             HashTableFreeNode freeNode, u32 linkOffset, u32 keyOffset, void* userValue);
  virtual ~CHashTable();

  virtual ErrorCode Insert(void* node);
  // link, when given, receives the address of the pointer that points to the found node.
  virtual void* Find(const void* probe, void*** link);
  virtual void* FindInBucket(const void* probe, u32 bucket, void*** link);
  virtual ErrorCode Detach(const void* probe, void** node);
  virtual ErrorCode Remove(const void* probe);
  // For node memory that has moved by delta bytes: shifts every chain head and every link.
  virtual ErrorCode Rebase(intptr_t delta);

  void Clear();
  bool HasBuckets() const { return buckets != nullptr; }
  u32 Count() const { return count; }

  CHashTable(const CHashTable&) = delete;
  CHashTable& operator=(const CHashTable&) = delete;

 private:
  void** LinkOf(void* node) const;

  void** buckets;
  u32 bucketCount;
  u32 count = 0;
  HashTableHash hash;
  HashTableCompare compare;
  HashTableFreeNode freeNode;
  u32 linkOffset;
  u32 keyOffset;
  void* userValue;
};
