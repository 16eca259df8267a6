// The memory-handle table: small 1-based integer handles over g_handlePool blocks, with nested
// locking. Not thread-safe (see the copy worker's threading rule).
#pragma once

#include "core/types.h"

typedef u32 MemHandle;  // entry index + 1; 0 means none

MemHandle MemAlloc(u32 size);
void* MemLock(MemHandle handle);
void MemUnlock(MemHandle handle);
void MemFree(MemHandle handle);

// Introspection for tests: entries in use or on the free list, and the storage's capacity.
u32 MemHandleCount();
u32 MemHandleCapacity();
