// Match finder of the Tarn coder: hash chains over the buffer (dictionary and input), with direct
// tables for the most recent 2- and 3-byte repeats, and anchors for far matches into a
// dictionary: every 16th dictionary position, keyed by its next 16 bytes. Costs 4 bytes per
// position the chains reach back, 2 per position for their heads and 1/4 byte per dictionary
// position. With a dictionary the chains reach back at most 16 Mi positions (64 MiB) and the
// anchors find what lies farther, so that coding against a large old file does not cost several
// times its size.
#pragma once

#include "archive/tarn_format.h"
#include "core/errors.h"

struct TarnMatch {
  u32 length;
  u32 distance;
};

struct TarnMatchLimits {
  u32 dictionarySize;  // positions below it are the dictionary
  u32 window;          // how far a match may reach back into the input
  u32 depth;           // chain links followed per position
  u32 nice;            // a match this long ends the search
};

class TarnMatchFinder {
 public:
  ~TarnMatchFinder();
  // data[0 .. end) is the whole buffer; reach is the farthest distance a match may have.
  ErrorCode Init(const u8* data, u32 end, u32 reach, const TarnMatchLimits& limits);

  // Inserts position and fills out with its matches, lengths rising, each with the nearest
  // distance for its length; at most kTarnMaxMatch long and never past the buffer's end.
  // Returns the count. Positions must be visited in order, each once (Find or Skip).
  u32 Find(u32 position, TarnMatch* out);
  void Skip(u32 position);

  // How long a match at distance may be at position under the reach rules: a match from the
  // dictionary farther back than the window stops at the dictionary's end. 0: not allowed.
  u32 Allowed(u32 position, u32 distance, u32 cap = kTarnMaxMatch) const;
  // The common length of position and position - distance, up to limit.
  u32 Common(u32 position, u32 distance, u32 limit) const;

  static constexpr u32 kMaxMatches = 64;

 private:
  u32 Insert(u32 position, u32* candidate2, u32* candidate3);
  void LookAhead(u32 position);

  const u8* data = nullptr;
  u32 end = 0;
  u32 ringSize = 0;
  u32 hashBits = 0;
  TarnMatchLimits limits = {};
  u32* heads = nullptr;  // 4-byte hash -> position + 1
  u32* heads2 = nullptr;
  u32* heads3 = nullptr;
  u32* chain = nullptr;  // position % ringSize -> earlier position + 1 with the same hash
  u32 anchorBits = 0;
  u32* anchors = nullptr;  // 16-byte hash -> two dictionary positions + 1, every 16th position
  // The anchors' distances found for each of the next 16 windows, by position % 16 (0: none).
  u32 ahead[16][2] = {};
  u32 lookedUpTo = 0;  // windows below it have been looked up
};
