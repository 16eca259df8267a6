#include "core/pools.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <malloc.h>
#define VORN_BLOCK_SIZE(p) _msize(p)
#else
#include <malloc.h>
#define VORN_BLOCK_SIZE(p) malloc_usable_size(p)
#endif

CPtrPool::~CPtrPool() = default;
u32 CPtrPool::Size(void*) { return 0; }
ErrorCode CPtrPool::GetError() { return lastError; }
ErrorCode CPtrPool::Reserved6(u32, u32) { return ERR_NOTIMPLEMENTED; }

CHandlePool::~CHandlePool() = default;
void* CHandlePool::FindLocked(PoolHandle) { return nullptr; }
PoolHandle CHandlePool::HandleOf(void*) { return 0; }
u32 CHandlePool::Size(PoolHandle) { return 0; }
ErrorCode CHandlePool::ReadHandle(PoolHandle, void*, u32, u32) { return nullptr; }
ErrorCode CHandlePool::WriteHandle(PoolHandle, const void*, u32, u32) { return nullptr; }
ErrorCode CHandlePool::GetError() { return lastError; }
ErrorCode CHandlePool::Reserved12() { return ERR_NOTIMPLEMENTED; }
ErrorCode CHandlePool::Flush() { return nullptr; }
void CHandlePool::SetRoot(u32) {}
u32 CHandlePool::GetRoot() { return 0; }

void* CHeapPtrPool::Alloc(u32 size) { return std::malloc(size); }
void* CHeapPtrPool::Realloc(void* block, u32 size) { return std::realloc(block, size); }
void CHeapPtrPool::Free(void* block) { std::free(block); }
u32 CHeapPtrPool::Size(void* block) { return block ? static_cast<u32>(VORN_BLOCK_SIZE(block)) : 0; }

PoolHandle CHeapHandlePool::Alloc(u32 size) {
  return reinterpret_cast<PoolHandle>(std::malloc(size));
}
PoolHandle CHeapHandlePool::Realloc(PoolHandle handle, u32 size) {
  return reinterpret_cast<PoolHandle>(std::realloc(reinterpret_cast<void*>(handle), size));
}
ErrorCode CHeapHandlePool::Free(PoolHandle handle) {
  std::free(reinterpret_cast<void*>(handle));
  return nullptr;
}
void* CHeapHandlePool::Lock(PoolHandle handle) { return reinterpret_cast<void*>(handle); }
void CHeapHandlePool::Unlock(PoolHandle, u32) {}
void* CHeapHandlePool::FindLocked(PoolHandle handle) { return reinterpret_cast<void*>(handle); }
PoolHandle CHeapHandlePool::HandleOf(void* locked) { return reinterpret_cast<PoolHandle>(locked); }
u32 CHeapHandlePool::Size(PoolHandle handle) {
  return handle ? static_cast<u32>(VORN_BLOCK_SIZE(reinterpret_cast<void*>(handle))) : 0;
}

namespace {
// The size word is 4 bytes on the 32-bit target; on 64-bit hosts the header keeps the block
// aligned for the pointers that nodes store in it.
constexpr u32 kSizeWord = sizeof(void*) > 4 ? 16 : 4;

u32 LoadSizeWord(const void* header) {
  u32 size;
  std::memcpy(&size, header, sizeof size);
  return size;
}

void StoreSizeWord(void* header, u32 size) { std::memcpy(header, &size, sizeof size); }
}  // namespace

void* CSizedPtrPool::Alloc(u32 size) {
  if (size == 0) {
    lastError = ERR_ZEROSIZE;
    return nullptr;
  }
  if (size > 0xFFFFFFFFu - kSizeWord) {
    lastError = ERR_NOTENOUGHMEMORY;
    return nullptr;
  }
  u8* block = static_cast<u8*>(g_ptrPool->Alloc(size + kSizeWord));
  if (!block) {
    lastError = ERR_NOTENOUGHMEMORY;
    return nullptr;
  }
  StoreSizeWord(block, size);
  lastError = nullptr;
  return block + kSizeWord;
}

void* CSizedPtrPool::Realloc(void* block, u32 size) {
  if (size == 0) {
    lastError = ERR_ZEROSIZE;
    return nullptr;
  }
  if (!block) {
    lastError = ERR_NULLPOINTER;
    return nullptr;
  }
  if (size > 0xFFFFFFFFu - kSizeWord) {
    lastError = ERR_NOTENOUGHMEMORY;
    return nullptr;
  }
  u8* moved =
      static_cast<u8*>(g_ptrPool->Realloc(static_cast<u8*>(block) - kSizeWord, size + kSizeWord));
  if (!moved) {
    lastError = ERR_NOTENOUGHMEMORY;
    return nullptr;
  }
  StoreSizeWord(moved, size);
  lastError = nullptr;
  return moved + kSizeWord;
}

void CSizedPtrPool::Free(void* block) {
  if (!block) {
    lastError = ERR_NULLPOINTER;
    return;
  }
  lastError = nullptr;
  g_ptrPool->Free(static_cast<u8*>(block) - kSizeWord);
}

u32 CSizedPtrPool::Size(void* block) {
  if (!block) {
    lastError = ERR_NULLPOINTER;
    return 0;
  }
  return LoadSizeWord(static_cast<u8*>(block) - kSizeWord);
}

// The heap pools have virtual bases, so they are built by code at start-up, not by the loader.
// The highest start-up priority builds them before any other static object (which may already
// allocate) and destroys them after all others.
namespace {
__attribute__((init_priority(101))) CHeapPtrPool heapPtrPool;
__attribute__((init_priority(101))) CHeapHandlePool heapHandlePool;
}  // namespace

CPtrPool* g_ptrPool = &heapPtrPool;
CHandlePool* g_handlePool = &heapHandlePool;
