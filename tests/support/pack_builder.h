// Builds pack files in memory for tests, through CPackWriter.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/types.h"

// Member name (any case, '/' or '\') -> contents. Names are normalized and sorted here.
typedef std::map<std::string, std::string> PackMembers;

class CPackWriter;

// Writes the members through `writer`; the first refusal, or success.
ErrorCode WritePack(CPackWriter* writer, const PackMembers& members);

// The pack's bytes; fails the current test (and returns what it has) when the writer refuses.
std::vector<u8> BuildPack(const PackMembers& members);

// Byte offset of the directory entry of member `index` (0-based) inside a pack built as above.
u32 PackEntryOffset(const std::vector<u8>& pack, u32 index);
