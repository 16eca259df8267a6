// The Tarn stream: LZ77 over a large window, coded with an adaptive binary range coder. The coder
// (tarn_encode) and the decoder (tarn_decode) share only this description of the format.
//
// Header, 28 bytes, integers little-endian:
//   0  "TARN"           magic
//   4  version          1
//   5  flags            bit 0: x86 branch filter (relative CALL/JMP operands made absolute)
//   6  literal bits     low nibble: context bits from the previous byte (lc); high nibble:
//                       context bits from the position (lp); lc + lp <= 4
//   7  position bits    pb <= 4: low position bits that select the match and length models
//   8  window log       12 .. 30: matches within the output reach back at most 2^log bytes
//   9  3 zero bytes
//   12 output size      bytes the stream decodes to
//   16 dictionary size  bytes of the file the output may copy from (0: none)
//   20 dictionary CRC   CRC-32 of the dictionary (0 without one), for the caller to check
//   24 output CRC       CRC-32 of the output; a mismatch refuses the stream
// followed by the range-coded tokens, which end when the output is complete; the coded bytes
// must be consumed exactly. A dictionary precedes the output: a match distance d at output
// position p names output byte p - d when d <= p, else dictionary byte size + p - d.
#pragma once

#include "core/types.h"

constexpr u32 kTarnMagic = 0x4E524154u;  // "TARN" read as a little-endian word
constexpr u8 kTarnVersion = 1;
constexpr u32 kTarnHeaderSize = 28;
constexpr u8 kTarnFlagX86 = 0x01;
constexpr u8 kTarnFlagDifferences = 0x02;
constexpr u8 kTarnMinWindowLog = 12;
constexpr u8 kTarnMaxWindowLog = 30;
constexpr u32 kTarnMaxLiteralBits = 4;  // lc + lp
constexpr u32 kTarnMaxPositionBits = 4;

// Probabilities are 11-bit estimates that a bit is 0, moved 1/32 of the way after each bit.
constexpr u32 kTarnProbBits = 11;
constexpr u16 kTarnProbInit = 1u << (kTarnProbBits - 1);
constexpr u32 kTarnMoveBits = 5;
constexpr u32 kTarnTopValue = 1u << 24;

// Token history: 12 states remember the last few token kinds (literal, match, repeated match,
// one-byte repeat). States below 7 follow a literal.
constexpr u32 kTarnStates = 12;
constexpr u32 kTarnLiteralStates = 7;
inline u32 TarnAfterLiteral(u32 s) { return s < 4 ? 0 : s < 10 ? s - 3 : s - 6; }
inline u32 TarnAfterMatch(u32 s) { return s < kTarnLiteralStates ? 7 : 10; }
inline u32 TarnAfterRep(u32 s) { return s < kTarnLiteralStates ? 8 : 11; }
inline u32 TarnAfterShortRep(u32 s) { return s < kTarnLiteralStates ? 9 : 11; }

// Lengths: a choice bit, then 8 low or 8 middle lengths per position state, or 256 high; the
// last high length, 273, is followed by a count k (a 5-bit tree) and k direct bits that add
// (2^k | bits) - 1, so one token covers any run (unchanged stretches of a delta above all).
constexpr u32 kTarnMinMatch = 2;
constexpr u32 kTarnLowLengths = 8;
constexpr u32 kTarnHighLengths = 256;
constexpr u32 kTarnMaxMatch = kTarnMinMatch + 2 * kTarnLowLengths + kTarnHighLengths - 1;
constexpr u32 kTarnLongCountBits = 5;

// Distances: a 6-bit slot per length class (lengths 2, 3, 4, 5+); slots 0..3 are the distance
// itself, higher slots carry (slot / 2 - 1) extra bits: below slot 14 all through bit trees,
// above it direct bits and then 4 aligned bits through one reverse tree.
constexpr u32 kTarnLengthClasses = 4;
constexpr u32 kTarnSlotBits = 6;
constexpr u32 kTarnSlots = 1u << kTarnSlotBits;
constexpr u32 kTarnStartModelSlot = 4;
constexpr u32 kTarnEndModelSlot = 14;
constexpr u32 kTarnModelledDistances = 1u << (kTarnEndModelSlot / 2);  // 128
constexpr u32 kTarnAlignBits = 4;
constexpr u32 kTarnAlignSize = 1u << kTarnAlignBits;
constexpr u32 kTarnReps = 4;

struct TarnLengthModel {
  u16 choice;
  u16 choice2;
  u16 low[1u << kTarnMaxPositionBits][kTarnLowLengths];
  u16 mid[1u << kTarnMaxPositionBits][kTarnLowLengths];
  u16 high[kTarnHighLengths];
  u16 longCount[1u << kTarnLongCountBits];
};

struct TarnModel {
  u16 isMatch[kTarnStates][1u << kTarnMaxPositionBits];
  u16 isRep[kTarnStates];
  u16 isRepG0[kTarnStates];
  u16 isRepG1[kTarnStates];
  u16 isRepG2[kTarnStates];
  u16 isRep0Long[kTarnStates][1u << kTarnMaxPositionBits];
  u16 slot[kTarnLengthClasses][kTarnSlots];
  u16 special[kTarnModelledDistances - kTarnEndModelSlot];
  u16 align[kTarnAlignSize];
  TarnLengthModel matchLength;
  TarnLengthModel repLength;
  u16 literal[0x300u << kTarnMaxLiteralBits];
};

inline void TarnModelReset(TarnModel* model) {
  u16* probs = reinterpret_cast<u16*>(model);
  for (u32 i = 0; i < sizeof(TarnModel) / sizeof(u16); ++i) probs[i] = kTarnProbInit;
}

inline u32 TarnLengthClass(u32 length) {
  return length - kTarnMinMatch < kTarnLengthClasses - 1 ? length - kTarnMinMatch
                                                         : kTarnLengthClasses - 1;
}

// The 1-based distance of every repeat slot before any match: with a dictionary, its first byte
// (so that the start of the output lines up with the start of the dictionary), else 1.
inline u32 TarnInitialRep(u32 dictionarySize) { return dictionarySize ? dictionarySize : 1; }
