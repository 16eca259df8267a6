#include "core/mem_handle.h"

#include <cassert>

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
u32 capacity = 0;  // entries the storage block holds
u32 count = 0;
u32 freeHead = kNoFree;

u32 CapacityFor(u32 entries) { return (entries / kChunk + 1) * kChunk; }

u32 LinkOf(const Entry& entry) {
  return static_cast<u32>(reinterpret_cast<uintptr_t>(entry.locked));
}
void* AsLink(u32 index) { return reinterpret_cast<void*>(static_cast<uintptr_t>(index)); }

// Changes the count, resizing the storage only when the count moves into another chunk.
bool SetCount(u32 newCount) {
  if (newCount == 0) {
    if (storage) g_handlePool->Free(storage);
    storage = 0;
    capacity = 0;
    count = 0;
    return true;
  }
  if (!storage || (count / kChunk) != (newCount / kChunk)) {
    u64 bytes = static_cast<u64>(CapacityFor(newCount)) * sizeof(Entry);
    if (newCount > 0xFFFFFFFFu - kChunk || bytes > 0xFFFFFFFFu) return false;
    PoolHandle resized = storage ? g_handlePool->Realloc(storage, static_cast<u32>(bytes))
                                 : g_handlePool->Alloc(static_cast<u32>(bytes));
    if (!resized) return false;
    storage = resized;
    capacity = CapacityFor(newCount);
  }
  count = newCount;
  return true;
}

// Shrinking must not fail: the entries beyond the new count are gone either way. A failed
// resize keeps the larger block, which the next resize brings back to the size its count needs.
void ShrinkTo(u32 newCount) {
  if (!SetCount(newCount)) count = newCount;
  if (count == 0) freeHead = kNoFree;
}

Entry* LockStorage() { return static_cast<Entry*>(g_handlePool->Lock(storage)); }
void UnlockStorage() { g_handlePool->Unlock(storage, 1); }

// Returns the new entry's index, or kNoFree.
u32 AddEntry(PoolHandle block) {
  if (count != 0 && freeHead != kNoFree) {
    Entry* entries = LockStorage();
    if (!entries) return kNoFree;
    u32 index = freeHead;
    freeHead = LinkOf(entries[index]);
    entries[index] = Entry{block, nullptr, 0};
    UnlockStorage();
    return index;
  }
  u32 index = count;
  if (!SetCount(count + 1)) return kNoFree;
  Entry* entries = LockStorage();
  if (!entries) {
    ShrinkTo(index);
    return kNoFree;
  }
  entries[index] = Entry{block, nullptr, 0};
  UnlockStorage();
  return index;
}

// Called with the storage locked and the entry's block already given back; unlocks the storage.
// The entry is cleared under the same lock that found it in use, so no failure in between can
// leave a live entry pointing at a freed block.
void RemoveLockedEntry(Entry* entries, u32 index) {
  if (index + 1 != count) {
    entries[index].block = 0;
    entries[index].locked = AsLink(freeHead);
    entries[index].lockCount = 0;
    UnlockStorage();
    freeHead = index;
    return;
  }
  assert(freeHead != index && "an entry in use is never on the free list");
  entries[index].block = 0;
  UnlockStorage();
  ShrinkTo(count - 1);
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
  RemoveLockedEntry(entries, handle - 1);
}

u32 MemHandleCount() { return count; }
u32 MemHandleCapacity() { return capacity; }
