// The optimal-parse block coder: codes a block of the LZSS container as small as the format
// allows. It has the signature of LzssEncodeBlock (an LzssBlockEncoder) and writes streams that
// LzssDecodeBlock reads back exactly.
//
// Every match costs the same 1 + B + L bits whatever its length and distance, and a literal costs
// 9 bits, so the coder only needs the longest match at each position (found with a binary tree
// over the window) and a shortest path over positions. The reader fills a block's zero tail in,
// so trailing zeros are left out when that is shorter; an all-zero block codes to 0 bytes.
#pragma once

#include "core/errors.h"

// Same contract as LzssEncodeBlock: *capacityAndLength holds the capacity on entry and the coded
// length on success; the destination is zeroed up to its capacity; reference, when given, is a
// block of the same length against which equal runs are coded as skips. The first token is a
// literal. Results: success; BUFFERTOOSMALL (capacity left in place); NOSUCHBITLENGTHS;
// NOTENOUGHMEM when the tables cannot be allocated; BADPARAMS for null arguments.
ErrorCode LzssEncodeBlockOptimal(const u8* source, u32 sourceLength, u8* destination,
                                 u32* capacityAndLength, u8 method, const u8* reference);
