// The Tarn stream coder (format: tarn_format.h): a hash-chain or binary-tree match finder and
// a price-driven parser that weighs literals, matches and repeated distances over runs of up to
// 2 KiB.
#pragma once

#include "core/errors.h"

struct TarnEncodeOptions {
  u8 windowLog = 26;
  u8 literalContextBits = 3;
  u8 literalPositionBits = 0;
  u8 positionBits = 2;
  bool x86 = false;  // ignored with a dictionary (the filter would need it filtered too)
  // Literals after a match coded as their difference to the match byte: pays for deltas of
  // programs and data, where changed bytes differ from the old ones by repeating amounts.
  bool differences = false;
  u32 niceLength = 128;
  u32 depth = 64;
  // With a dictionary, the most positions the hash chains cover (4 bytes each, plus 2 for their
  // heads); beyond, half follow the input and half the old bytes around the input's position.
  u32 chainPositions = 1u << 23;
  // Without a dictionary, binary trees instead of hash chains: 8 bytes per position the window
  // reaches instead of 4, and the longest matches for far fewer comparisons.
  bool binaryTree = true;
};

// Codes data[dictionarySize .. dictionarySize + size) as a stream that may copy from the
// dictionary data[0 .. dictionarySize). On success *coded is a block from g_ptrPool holding
// *codedSize bytes (header included); the caller frees it.
// Results: success, BADPARAMS for options outside the format, NOTENOUGHMEM.
ErrorCode TarnEncode(const u8* data, u32 dictionarySize, u32 size, const TarnEncodeOptions& options,
                     u8** coded, u32* codedSize);
