// The x86 branch filter of Tarn streams. In x86 code the 4-byte operand of a relative CALL (E8)
// or JMP (E9) changes with the instruction's position even when the target stays; made absolute
// it repeats wherever the same target is called, which the LZ stage can then match.
//
// Only operands whose top byte is 00 or FF (targets within 16 MiB) are converted, and the
// converted value keeps that form (25 bits, sign-extended), so decoding can tell converted
// operands from others by the same test. The four bytes after every E8/E9 are skipped, converted
// or not. Positions count from the start of the stream, modulo 2^25.
#pragma once

#include "core/types.h"

// Converts data[0 .. size), whose first byte lies at stream position `position`, forwards
// (encode) or back. Returns the count of leading bytes that are final: all of them when `last`,
// else every byte before the first E8/E9 whose operand is not complete within size, which the
// caller hands in again, followed by the next bytes, at position + result.
u32 TarnX86Convert(u8* data, u32 size, u32 position, bool encode, bool last);
