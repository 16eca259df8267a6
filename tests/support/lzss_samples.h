// Sample blocks and an independent, deliberately plain decoder for the LZSS tests.
#pragma once

#include <string>
#include <vector>

#include "core/types.h"

// Reads the coded stream one token at a time, one bit at a time (bits past the end read as zero),
// into out[0 .. capacity), where skips leave what was there. Returns false, with the output so far
// kept, at a token that would write past the capacity or copy from before the block; *produced is
// set on success only.
bool ReferenceDecode(const u8* coded, u32 size, u8 method, u8* out, u32 capacity, u32* produced);

// Named sample blocks: text, binary, random, zeros, runs, and short edge sizes.
struct SampleBlock {
  std::string name;
  std::vector<u8> bytes;
};
std::vector<SampleBlock> SampleBlocks(u32 size);

// Deterministic pseudo-random bytes.
std::vector<u8> RandomBytes(u32 size, u32 seed);

// Every valid method byte.
std::vector<u8> AllMethods();
