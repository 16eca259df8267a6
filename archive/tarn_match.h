// Match finder of the Tarn coder: hash chains over the buffer (dictionary and input), with direct
// tables for the most recent 2- and 3-byte repeats, and anchors for far matches into a
// dictionary: every 16th dictionary position, keyed by its next 16 bytes. Costs 4 bytes per
// position the chains reach back, 2 per position for their heads and 1/4 to 1/2 byte per
// dictionary position. With a dictionary, chains over more positions than the limits allow are
// split in two halves (the latest input, and the old bytes around the input's position), and
// the anchors find what lies elsewhere, so that coding against a large old file does not cost
// several times its size.
// Without a dictionary the 4-byte heads may instead root binary trees: each position is put at
// the root of its tree, the earlier ones below it ordered by the bytes that follow, so a search
// meets the longest matches in few steps and keeps the tree ordered as it goes. Costs 8 bytes
// per position the window reaches, instead of the chains' 4.
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
  u32 chainPositions;  // with a dictionary, chains over more positions are split
  bool binaryTree;     // without a dictionary, trees instead of chains
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
  struct Chains {
    u32 bits = 0;
    u32 ringSize = 0;
    u32* heads = nullptr;  // 4-byte hash -> position + 1
    u32* links = nullptr;  // position % ringSize -> earlier position + 1 with the same hash
    ErrorCode Init(u32 ring, u32 spread, u32 linksPerPosition = 1);
    u32& Head(u32 word) { return heads[(word * 0x9E3779B1u) >> (32 - bits)]; }
    // A position's place in the ring; most buffers fit the ring whole, and skip the division.
    u32 Slot(u32 position) const { return position < ringSize ? position : position % ringSize; }
    u32 SwapHead(u32 position, u32 word);  // makes position the head; returns the former one
    u32 Insert(u32 position, u32 word);    // the same, linked to the former head
  };

  u32 Insert(u32 position, u32* candidate2, u32* candidate3);
  // Puts position at the root of the tree whose former root is root; with out, notes each
  // match longer than *best met on the way. Returns the count in out.
  u32 TreeInsert(u32 position, u32 root, TarnMatch* out, u32 count, u32* best);
  void AdvanceOld(u32 position);
  void LookAhead(u32 position);

  const u8* data = nullptr;
  u32 end = 0;
  TarnMatchLimits limits = {};
  u32* heads2 = nullptr;
  u32* heads3 = nullptr;
  Chains chains;  // the whole buffer, or split: the input; tree: 2 links per position
  bool split = false;
  Chains old;           // split: the dictionary around the input's position
  u32 oldInserted = 0;  // split: dictionary positions below it are in old
  u32 anchorBits = 0;
  u32* anchors = nullptr;  // 16-byte hash -> two dictionary positions + 1, every 16th position
  // The anchors' distances found for each of the next 16 windows, by position % 16 (0: none).
  u32 ahead[16][2] = {};
  u32 lookedUpTo = 0;  // windows below it have been looked up
};
