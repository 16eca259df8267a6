// Base of handle pools whose blocks live outside memory (in a file): Lock hands out a copy of a
// handle's bytes, kept in a list of locked copies, and the last Unlock writes a modified copy
// back. The concrete pool supplies Alloc, Realloc, Free, Size, ReadHandle and WriteHandle.
#pragma once

#include "core/pools.h"

class CFileHandlePool : public CHandlePool {
 public:
  // Without a node pool, the pool makes and owns a CSizedPtrPool (ownsNodePool is then ignored).
  CFileHandlePool(CPtrPool* nodePool, u32 ownsNodePool);
  ~CFileHandlePool() override;

  void* Lock(PoolHandle handle) override;
  void Unlock(PoolHandle handle, u32 modified) override;
  void* FindLocked(PoolHandle handle) override;
  PoolHandle HandleOf(void* locked) override;

  // Number of handles locked now (for tests and diagnostics).
  u32 LockedCount() const;

  CFileHandlePool(const CFileHandlePool&) = delete;
  CFileHandlePool& operator=(const CFileHandlePool&) = delete;

 private:
  struct LockNode {
    PoolHandle handle;
    u32 lockCount;
    u32 modified;
    u32 copySize;  // bytes copied at Lock; the write-back never goes beyond them
    LockNode* next;
  };
  static u8* CopyOf(LockNode* node);
  LockNode* FindNode(PoolHandle handle) const;

  CPtrPool* nodes;
  u32 ownsNodes;
  LockNode* lockedList = nullptr;
};
