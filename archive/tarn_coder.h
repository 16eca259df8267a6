// The Tarn coder's state shared by its token writer (tarn_encode.cpp) and its parser
// (tarn_parse.cpp): the model, the range coder, the token history and the price tables.
#pragma once

#include "archive/tarn_encode.h"
#include "archive/tarn_match.h"
#include "archive/tarn_range_encoder.h"

constexpr u32 kTarnLengthSymbols = kTarnMaxMatch - kTarnMinMatch + 1;
constexpr u32 kTarnOptimumCap = 2048;

class TarnCoder {
 public:
  // data[0 .. end): the dictionary below dictionarySize, then the input.
  const u8* data = nullptr;
  u32 dictionarySize = 0;
  u32 end = 0;
  u32 window = 0;
  u32 positionMask = 0;
  u32 literalPositionMask = 0;
  u32 literalContextBits = 0;
  u32 nice = 0;
  bool differences = false;

  TarnModel model;
  TarnRangeEncoder out;
  TarnMatchFinder finder;
  u32 state = 0;
  u32 reps[kTarnReps] = {};

  ErrorCode Run();

  // Token writer: each codes one token at data position `at` and moves the history on.
  void PutLiteral(u32 at);
  void PutMatch(u32 at, u32 length, u32 distance);
  void PutRep(u32 at, u32 index, u32 length);
  void PutShortRep(u32 at);

  // Prices of the parts of tokens under the current model.
  void RefreshPrices();
  u32 LiteralPrice(u32 at, u32 tokenState, u32 repDistance) const;
  u32 RepIndexPrice(u32 index, u32 tokenState, u32 posState) const;
  u32 DistancePrice(u32 distance, u32 length) const;
  u32 MatchLengthPrice(u32 length, u32 posState) const {
    return matchLengthPrices[posState][length - kTarnMinMatch];
  }
  u32 RepLengthPrice(u32 length, u32 posState) const {
    return repLengthPrices[posState][length - kTarnMinMatch];
  }
  // The byte a literal after a match is coded against (0 where the decoder has none).
  u32 MatchByte(u32 at, u32 distance) const;
  u32 PosState(u32 at) const { return (at - dictionarySize) & positionMask; }

  u32 tokensSinceRefresh = 0;

 private:
  // The parser: one run of tokens from `at`, given the matches there; returns the bytes coded.
  // A run that stops at a position whose matches it already found leaves them in next.
  u32 ParseRun(u32 at, const TarnMatch* matches, u32 count, TarnMatch* next, u32* nextCount,
               bool* haveNext);

  struct Node {
    u32 price;
    u32 from;
    u32 distance;  // of a match
    u8 kind;
    u8 repIndex;
    u32 state;
    u32 reps[kTarnReps];
  };
  void Settle(u32 index);
  void Relax(u32 index, u32 at, const TarnMatch* matches, u32 count, u32* reach);
  void Offer(u32 to, u32 price, u32 from, u8 kind, u8 repIndex, u32 distance, u32* reach);
  u32 Emit(u32 at, u32 stop);
  u32 Join(u32 at, u32 stop, bool* haveNext);

  Node nodes[kTarnOptimumCap + kTarnMaxMatch + 2];
  u32 matchLengthPrices[1u << kTarnMaxPositionBits][kTarnLengthSymbols];
  u32 repLengthPrices[1u << kTarnMaxPositionBits][kTarnLengthSymbols];
  u32 slotPrices[kTarnLengthClasses][kTarnSlots];
  u32 nearPrices[kTarnLengthClasses][kTarnModelledDistances];
  u32 alignPrices[kTarnAlignSize];
};

// The slot of a 0-based distance value.
inline u32 TarnSlot(u32 value) {
  if (value < kTarnStartModelSlot) return value;
  const u32 top = 31 - static_cast<u32>(__builtin_clz(value));
  return 2 * top + ((value >> (top - 1)) & 1);
}
