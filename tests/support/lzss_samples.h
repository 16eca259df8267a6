// Sample blocks and an independent, deliberately plain decoder for the LZSS tests.
#pragma once

#include <string>
#include <vector>

#include "core/types.h"

// Reads the coded stream one bit at a time (bits past the end read as zero) and applies the
// tokens to a copy of `initial`. Returns false for a stream that writes past `capacity` or copies
// from before the block.
bool ReferenceDecode(const std::vector<u8>& coded, u8 method, u32 capacity, std::vector<u8>* output,
                     const std::vector<u8>& initial = {});

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
