#include "core/mem_handle.h"

#include "core/pools.h"

namespace {

struct Entry {
  PoolHandle block;  // 0 while the entry is free
  void* locked;      // the locked pointer; while free, the next free index (as an integer)
  u32 lockCount;     // wider than a byte so that deep nesting cannot wrap
};

constexpr u32 kChunk = 4096;
constexpr u32 kNoFree = 0xFFFFFFFFu;

PoolHandle storage = 0;
u32 count = 0;
u32 freeHead = kNoFree;

u32 CapacityFor(u32 entries) { return (entries / kChunk + 1) * kChunk; }

// Changes the count, resizing the storage only when the count moves into another chunk.
bool SetCount(u32 newCount) {
  if (newCount == 0) {
    if (storage) g_handlePool->Free(storage);
    storage = 0;
    count = 0;
    return true;
  }
  if (!storage || (count / kChunk) != (newCount / kChunk)) {
    u32 bytes = CapacityFor(newCount) * static_cast<u32>(sizeof(Entry));
    PoolHandle resized =
        storage ? g_handlePool->Realloc(storage, bytes) : g_handlePool->Alloc(bytes);
    if (!resized) return false;
    storage = resized;
  }
  count = newCount;
  return true;
}

Entry* LockStorage() { return static_cast<Entry*>(g_handlePool->Lock(storage)); }
void UnlockStorage() { g_handlePool->Unlock(storage, 1); }

// Returns the new entry's index, or kNoFree.
u32 AddEntry(PoolHandle block) {
  if (count != 0 && freeHead != kNoFree) {
    Entry* entries = LockStorage();
    if (!entries) return kNoFree;
    u32 index = freeHead;
    freeHead = static_cast<u32>(reinterpret_cast<uintptr_t>(entries[index].locked));
    entries[index] = Entry{block, nullptr, 0};
    UnlockStorage();
    return index;
  }
  u32 index = count;
  if (!SetCount(count + 1)) return kNoFree;
  Entry* entries = LockStorage();
  if (!entries) {
    SetCount(index);
    return kNoFree;
  }
  entries[index] = Entry{block, nullptr, 0};
  UnlockStorage();
  return index;
}

void RemoveEntry(u32 index) {
  if (index + 1 != count) {
    Entry* entries = LockStorage();
    if (!entries) return;
    entries[index].block = 0;
    entries[index].locked = reinterpret_cast<void*>(static_cast<uintptr_t>(freeHead));
    UnlockStorage();
    freeHead = index;
    return;
  }
  if (freeHead == index) {
    Entry* entries = LockStorage();
    if (!entries) return;
    freeHead = static_cast<u32>(reinterpret_cast<uintptr_t>(entries[index].locked));
    UnlockStorage();
  }
  // Shrinking never fails to keep the count consistent: a failed resize keeps the larger block.
  if (!SetCount(count - 1)) count -= 1;
  if (count == 0) freeHead = kNoFree;
}

bool Valid(MemHandle handle) { return handle != 0 && handle <= count; }

}  // namespace

MemHandle MemAlloc(u32 size) {
  if (size == 0) return 0;
  PoolHandle block = g_handlePool->Alloc(size);
  if (!block) return 0;
  u32 index = AddEntry(block);
  if (index == kNoFree) {
    g_handlePool->Free(block);
    return 0;
  }
  return index + 1;
}

void* MemLock(MemHandle handle) {
  if (!Valid(handle)) return nullptr;
  Entry* entries = LockStorage();
  if (!entries) return nullptr;
  Entry& entry = entries[handle - 1];
  if (entry.block == 0) {
    UnlockStorage();
    return nullptr;
  }
  if (entry.lockCount == 0) {
    void* pointer = g_handlePool->Lock(entry.block);
    if (!pointer) {
      UnlockStorage();
      return nullptr;
    }
    entry.locked = pointer;
  }
  entry.lockCount += 1;
  void* result = entry.locked;
  UnlockStorage();
  return result;
}

void MemUnlock(MemHandle handle) {
  if (!Valid(handle)) return;
  Entry* entries = LockStorage();
  if (!entries) return;
  Entry& entry = entries[handle - 1];
  if (entry.block != 0 && entry.lockCount > 0) {
    entry.lockCount -= 1;
    if (entry.lockCount == 0) {
      g_handlePool->Unlock(entry.block, 1);
      entry.locked = nullptr;
    }
  }
  UnlockStorage();
}

void MemFree(MemHandle handle) {
  if (!Valid(handle)) return;
  Entry* entries = LockStorage();
  if (!entries) return;
  Entry& entry = entries[handle - 1];
  if (entry.block == 0) {
    UnlockStorage();
    return;
  }
  g_handlePool->Free(entry.block);
  UnlockStorage();
  RemoveEntry(handle - 1);
}

u32 MemHandleCount() { return count; }
u32 MemHandleCapacity() { return storage ? CapacityFor(count) : 0; }
