#include "file/file_handle_pool.h"

#include <new>

namespace {
// The copy starts behind the node, aligned for any data the caller keeps in it.
constexpr u32 kCopyAlign = 8;
}  // namespace

CFileHandlePool::CFileHandlePool(CPtrPool* pool, u32 owns) : nodes(pool), ownsNodes(owns) {
  if (!nodes) {
    nodes = new (std::nothrow) CSizedPtrPool();
    ownsNodes = 1;
  }
}

CFileHandlePool::~CFileHandlePool() {
  while (lockedList) {
    LockNode* next = lockedList->next;
    nodes->Free(lockedList);
    lockedList = next;
  }
  if (ownsNodes) delete nodes;
}

u8* CFileHandlePool::CopyOf(LockNode* node) {
  constexpr u32 offset = (sizeof(LockNode) + kCopyAlign - 1) & ~(kCopyAlign - 1);
  return reinterpret_cast<u8*>(node) + offset;
}

CFileHandlePool::LockNode* CFileHandlePool::FindNode(PoolHandle handle) const {
  for (LockNode* node = lockedList; node; node = node->next) {
    if (node->handle == handle) return node;
  }
  return nullptr;
}

void* CFileHandlePool::Lock(PoolHandle handle) {
  LockNode* node = FindNode(handle);
  if (node) {
    ++node->lockCount;
    return CopyOf(node);
  }
  if (!handle || !nodes) {
    lastError = ERR_LOCKFAIL;
    return nullptr;
  }
  // Size answers 0 both for an empty handle and for one it cannot read; only the error tells.
  lastError = nullptr;
  u32 size = Size(handle);
  if (size == 0 && lastError) return nullptr;
  constexpr u32 header = (sizeof(LockNode) + kCopyAlign - 1) & ~(kCopyAlign - 1);
  if (size > 0xFFFFFFFFu - header) {
    lastError = ERR_LOCKFAIL;
    return nullptr;
  }
  node = static_cast<LockNode*>(nodes->Alloc(header + size));
  if (!node) {
    lastError = ERR_LOCKFAIL;
    return nullptr;
  }
  if (size != 0) {
    lastError = ReadHandle(handle, CopyOf(node), 0, kWholeBlock);
    if (lastError) {
      nodes->Free(node);
      return nullptr;
    }
  }
  node->handle = handle;
  node->lockCount = 1;
  node->modified = 0;
  node->copySize = size;
  node->next = lockedList;
  lockedList = node;
  return CopyOf(node);
}

void CFileHandlePool::Unlock(PoolHandle handle, u32 modified) {
  LockNode* node = FindNode(handle);
  if (!node) return;
  node->modified |= modified;
  if (--node->lockCount > 0) return;
  // An empty copy has nothing to write back (and a pool refuses a write at offset 0 of an empty
  // handle); a handle resized while locked gets no more than the bytes that were copied.
  if (node->modified && node->copySize != 0) {
    if (WriteHandle(handle, CopyOf(node), 0, node->copySize)) {
      node->lockCount = 1;  // keep the bytes rather than lose them
      return;
    }
  }
  LockNode** link = &lockedList;
  while (*link != node) link = &(*link)->next;
  *link = node->next;
  nodes->Free(node);
}

void* CFileHandlePool::FindLocked(PoolHandle handle) {
  LockNode* node = FindNode(handle);
  return node ? CopyOf(node) : nullptr;
}

PoolHandle CFileHandlePool::HandleOf(void* locked) {
  for (LockNode* node = lockedList; node; node = node->next) {
    if (CopyOf(node) == locked) return node->handle;
  }
  return 0;
}

u32 CFileHandlePool::LockedCount() const {
  u32 count = 0;
  for (LockNode* node = lockedList; node; node = node->next) ++count;
  return count;
}
