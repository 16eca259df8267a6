#include "archive/hash_table.h"

#include <cstring>

#include "core/pools.h"

CHashTable::CHashTable(u32 buckets_, HashTableHash hash_, HashTableCompare compare_,
                       HashTableFreeNode freeNode_, u32 linkOffset_, u32 keyOffset_,
                       void* userValue_)
    : buckets(nullptr),
      bucketCount(buckets_),
      hash(hash_),
      compare(compare_),
      freeNode(freeNode_),
      linkOffset(linkOffset_),
      keyOffset(keyOffset_),
      userValue(userValue_) {
  if (bucketCount == 0 || bucketCount > 0xFFFFFFFFu / sizeof(void*)) return;
  const u32 bytes = bucketCount * static_cast<u32>(sizeof(void*));
  buckets = static_cast<void**>(g_ptrPool->Alloc(bytes));
  if (buckets) std::memset(buckets, 0, bytes);
}

CHashTable::~CHashTable() {
  Clear();
  if (buckets) g_ptrPool->Free(buckets);
}

void** CHashTable::LinkOf(void* node) const {
  return reinterpret_cast<void**>(static_cast<u8*>(node) + linkOffset);
}

ErrorCode CHashTable::Insert(void* node) {
  if (!buckets || !node) return ERR_UNKNOWN;
  const u32 bucket = hash(static_cast<u8*>(node) + keyOffset, bucketCount) % bucketCount;
  *LinkOf(node) = buckets[bucket];
  buckets[bucket] = node;
  ++count;
  return nullptr;
}

void* CHashTable::Find(const void* probe, void*** link) {
  if (!buckets || !probe) return nullptr;
  return FindInBucket(probe, hash(probe, bucketCount) % bucketCount, link);
}

void* CHashTable::FindInBucket(const void* probe, u32 bucket, void*** link) {
  if (!buckets || !probe || bucket >= bucketCount) return nullptr;
  void** at = &buckets[bucket];
  while (*at) {
    void* node = *at;
    if (compare(probe, static_cast<u8*>(node) + keyOffset) == 0) {
      if (link) *link = at;
      return node;
    }
    at = LinkOf(node);
  }
  return nullptr;
}

ErrorCode CHashTable::Detach(const void* probe, void** node) {
  if (node) *node = nullptr;
  if (!buckets || !probe) return ERR_UNKNOWN;
  void** link = nullptr;
  void* found = Find(probe, &link);
  if (!found) return ERR_NOTFOUND;
  *link = *LinkOf(found);
  *LinkOf(found) = nullptr;
  --count;
  if (node) *node = found;
  return nullptr;
}

ErrorCode CHashTable::Remove(const void* probe) {
  void* node = nullptr;
  ErrorCode error = Detach(probe, &node);
  if (error) return error;
  if (freeNode) freeNode(node, userValue);
  return nullptr;
}

ErrorCode CHashTable::Rebase(intptr_t delta) {
  if (!buckets) return ERR_UNKNOWN;
  for (u32 b = 0; b < bucketCount; ++b) {
    void** at = &buckets[b];
    while (*at) {
      *at = static_cast<u8*>(*at) + delta;
      at = LinkOf(*at);
    }
  }
  return nullptr;
}

void CHashTable::Clear() {
  if (!buckets) return;
  if (freeNode) {
    for (u32 b = 0; b < bucketCount; ++b) {
      while (buckets[b]) {
        void* node = buckets[b];
        buckets[b] = *LinkOf(node);
        freeNode(node, userValue);
      }
    }
  } else {
    std::memset(buckets, 0, bucketCount * sizeof(void*));
  }
  count = 0;
}
