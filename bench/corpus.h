// The benchmark corpus (scripts/make-bench-corpus.sh) and the block sets coded from it.
#pragma once

#include <string>
#include <vector>

#include "core/types.h"

constexpr u32 kBenchBlockSize = 32768;

// The corpus folder: $VORN_BENCH_CORPUS, else build/bench-corpus in the source tree.
std::string CorpusDir();

// corpus.bin, loaded once; the process stops with a message when it is missing.
const std::vector<u8>& Corpus();

// The corpus cut into 32 KiB blocks, each coded on its own.
struct CodedBlocks {
  std::vector<u8> bytes;       // the coded blocks, one after the other
  std::vector<u32> offsets;    // block i is bytes[offsets[i] .. offsets[i + 1])
  std::vector<u32> rawLength;  // uncompressed length of block i
  u64 CodedSize() const { return bytes.size(); }
  u32 Count() const { return static_cast<u32>(rawLength.size()); }
};

enum class BlockCoder { kLzssTree, kLzssOptimal, kZlib6, kLz4Hc };

// Coded once per (coder, method) and kept for the whole run.
const CodedBlocks& Coded(BlockCoder coder, u8 method);

// Codes one block into out; *coded holds the capacity on entry and the coded length on success.
bool CodeBlock(BlockCoder coder, u8 method, const u8* source, u32 length, u8* out, u32* coded);
u32 CodedCapacity(u32 length);
