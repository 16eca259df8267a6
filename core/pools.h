// Allocator interfaces. CPtrPool hands out plain pointers; CHandlePool hands out 32-bit handles
// that must be locked to reach their bytes, so a handle pool may keep its blocks anywhere (on the
// heap, or inside a file). The process-wide instances sit over the general heap.
#pragma once

#include "core/errors.h"
#include "core/object.h"

class CPtrPool : public virtual CObject {
  VORN_DECLARE_CLASS(CPtrPool, CObject, CLASS_CPTRPOOL)

 public:
  CPtrPool() = default;
  virtual ~CPtrPool();
  virtual void* Alloc(u32 size) = 0;
  virtual void* Realloc(void* block, u32 size) = 0;
  virtual void Free(void* block) = 0;
  virtual u32 Size(void* block);
  virtual ErrorCode GetError();
  virtual ErrorCode Reserved6(u32 a, u32 b);

 protected:
  ErrorCode lastError = nullptr;
};

// A handle is 32 bits wide on the 32-bit target; it is pointer-wide so that the heap pool can use
// the heap pointer itself as the handle on 64-bit hosts too. 0 is never a valid handle.
typedef uintptr_t PoolHandle;

// Count argument of ReadHandle/WriteHandle meaning "the whole block" (with offset 0).
constexpr u32 kWholeBlock = 0xFFFFFFFFu;

class CHandlePool : public virtual CObject {
  VORN_DECLARE_CLASS(CHandlePool, CObject, CLASS_CHANDLEPOOL)

 public:
  CHandlePool() = default;
  virtual ~CHandlePool();
  virtual PoolHandle Alloc(u32 size) = 0;
  virtual PoolHandle Realloc(PoolHandle handle, u32 size) = 0;
  virtual ErrorCode Free(PoolHandle handle) = 0;
  virtual void* Lock(PoolHandle handle) = 0;
  virtual void Unlock(PoolHandle handle, u32 modified) = 0;
  virtual void* FindLocked(PoolHandle handle);
  virtual PoolHandle HandleOf(void* locked);
  virtual u32 Size(PoolHandle handle);
  virtual ErrorCode ReadHandle(PoolHandle handle, void* buffer, u32 offset, u32 count);
  virtual ErrorCode WriteHandle(PoolHandle handle, const void* buffer, u32 offset, u32 count);
  virtual ErrorCode GetError();
  virtual ErrorCode Reserved12();
  virtual ErrorCode Flush();
  virtual void SetRoot(u32 value);
  virtual u32 GetRoot();

 protected:
  ErrorCode lastError = nullptr;
};

// Pointer pool over the general heap; never records an error.
class CHeapPtrPool : public CPtrPool {
 public:
  void* Alloc(u32 size) override;
  void* Realloc(void* block, u32 size) override;
  void Free(void* block) override;
  u32 Size(void* block) override;
};

// Handle pool over the general heap: a handle is the heap pointer itself.
class CHeapHandlePool : public CHandlePool {
 public:
  PoolHandle Alloc(u32 size) override;
  PoolHandle Realloc(PoolHandle handle, u32 size) override;
  ErrorCode Free(PoolHandle handle) override;
  void* Lock(PoolHandle handle) override;
  void Unlock(PoolHandle handle, u32 modified) override;
  void* FindLocked(PoolHandle handle) override;
  PoolHandle HandleOf(void* locked) override;
  u32 Size(PoolHandle handle) override;
};

// Pointer pool that keeps a 32-bit size word in front of each block (over g_ptrPool) and records
// the reason of its last failure.
class CSizedPtrPool : public CPtrPool {
 public:
  void* Alloc(u32 size) override;
  void* Realloc(void* block, u32 size) override;
  void Free(void* block) override;
  u32 Size(void* block) override;
};

// The process-wide pools. Production code never changes them; tests may point them at pools
// that fail on purpose (see tests/support/failing_pools.h) and restore them afterwards.
extern CPtrPool* g_ptrPool;
extern CHandlePool* g_handlePool;
