// The block coder and decoder of the LZSS container. A coded block is one bit stream read from
// the most significant bit of each byte down:
//   literal: 1, then the 8-bit byte;
//   match:   0, then B bits O, then L bits n: copy n + 2 bytes from 2^B - O bytes back, byte by
//            byte so that a copy may overlap its own output; O = 0 skips n + 2 output bytes and
//            leaves them as they were.
// The method byte is 16 * B + L with B in {10, 11, 12} and L in {1..5}. Every block is coded with
// an empty history, and the first token is a literal.
#pragma once

#include "core/errors.h"

constexpr u8 kLzssMethodCount = 15;

bool LzssMethodValid(u8 method);

// Decodes one coded block into destination[0 .. destinationCapacity). Decoding stops after the
// first token that leaves the next unread bit in the last source byte or beyond, so at least one
// token is decoded unless sourceLength is 0. The decoder never reads past
// source[sourceLength - 1]: bits that a token fetch would take from beyond it read as zeros, so
// callers need no padding. source and destination may overlap (in-place decoding of a block
// whose coded bytes sit at the back of the buffer that receives the output).
// Results: success with *produced = bytes written or skipped; NOSUCHBITLENGTHS for an invalid
// method (produced untouched); INVALIDFORMAT when a token would write past the capacity or copy
// from before the start of the block (nothing is written outside the capacity).
ErrorCode LzssDecodeBlock(const u8* source, u32 sourceLength, u8* destination,
                          u32 destinationCapacity, u32* produced, u8 method);

// Codes one block. *capacityAndLength holds the destination's capacity on entry and the coded
// length on success; the destination is zeroed up to its capacity. reference, when given, is a
// block of the same length: runs equal to it at the same position are coded as skips.
// Results: success; BUFFERTOOSMALL when the coded form does not fit (the capacity is left in
// place); NOSUCHBITLENGTHS; NOTENOUGHMEM when the match finder cannot be allocated.
ErrorCode LzssEncodeBlock(const u8* source, u32 sourceLength, u8* destination,
                          u32* capacityAndLength, u8 method, const u8* reference);

typedef ErrorCode (*LzssBlockEncoder)(const u8*, u32, u8*, u32*, u8, const u8*);
