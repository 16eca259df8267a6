// Helpers for tests of HPFS stores kept in memory files.
#pragma once

#include <memory>
#include <vector>

#include "file/bfhp.h"
#include "support/memory_file.h"

// The bytes of a fresh, empty store (header in block 0, no root yet).
std::vector<u8> EmptyHpfsBytes(u32 blockSize, u32 rootHeaderSize, u32 maxBlocks);

// A CBFHP attached to a memory file that holds `bytes`; the pool owns the file. `file` (when
// given) receives the memory file for inspection.
std::unique_ptr<CBFHP> AttachHpfs(std::vector<u8> bytes, MemoryFile** file = nullptr);

u32 LoadLe32(const std::vector<u8>& bytes, size_t at);
void StoreLe32(std::vector<u8>& bytes, size_t at, u32 value);

// Deterministic test data, one stream per seed.
std::vector<u8> Pattern(u32 seed, u32 size);
