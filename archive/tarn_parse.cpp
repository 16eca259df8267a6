// The parser: from a position, the cheapest way under the current prices to reach each of the
// next positions (up to 2 KiB ahead) by literals, matches, repeats and one-byte repeats, found
// in one forward pass; a match of the nice length or more ends the run where it starts, and is
// taken there whole.
#include "archive/tarn_coder.h"

namespace {

enum : u8 { kLiteral, kMatch, kRep, kShortRep };

}  // namespace

void TarnCoder::Offer(u32 to, u32 price, u32 from, u8 kind, u8 repIndex, u32 distance, u32* reach) {
  while (*reach < to) nodes[++*reach].price = kTarnInfinitePrice;
  Node& node = nodes[to];
  if (price >= node.price) return;
  node.price = price;
  node.from = from;
  node.kind = kind;
  node.repIndex = repIndex;
  node.distance = distance;
}

// Works out the history at a node from the token that reaches it best.
void TarnCoder::Settle(u32 index) {
  Node& node = nodes[index];
  const Node& from = nodes[node.from];
  for (u32 i = 0; i < kTarnReps; ++i) node.reps[i] = from.reps[i];
  switch (node.kind) {
    case kLiteral:
      node.state = TarnAfterLiteral(from.state);
      break;
    case kShortRep:
      node.state = TarnAfterShortRep(from.state);
      break;
    case kRep:
      for (u32 i = node.repIndex; i > 0; --i) node.reps[i] = from.reps[i - 1];
      node.reps[0] = from.reps[node.repIndex];
      node.state = TarnAfterRep(from.state);
      break;
    default:
      for (u32 i = kTarnReps - 1; i > 0; --i) node.reps[i] = from.reps[i - 1];
      node.reps[0] = node.distance;
      node.state = TarnAfterMatch(from.state);
      break;
  }
}

void TarnCoder::Relax(u32 index, u32 at, const TarnMatch* matches, u32 count, u32* reach) {
  const Node& node = nodes[index];
  const u32 s = node.state, ps = PosState(at);
  const u32 base = node.price;
  Offer(index + 1, base + TarnPrice(model.isMatch[s][ps], 0) + LiteralPrice(at, s, node.reps[0]),
        index, kLiteral, 0, 0, reach);
  const u32 matchBase = base + TarnPrice(model.isMatch[s][ps], 1);
  const u32 repBase = matchBase + TarnPrice(model.isRep[s], 1);
  if (finder.Allowed(at, node.reps[0]) && data[at] == data[at - node.reps[0]]) {
    Offer(index + 1,
          repBase + TarnPrice(model.isRepG0[s], 0) + TarnPrice(model.isRep0Long[s][ps], 0), index,
          kShortRep, 0, 0, reach);
  }
  for (u32 k = 0; k < kTarnReps; ++k) {
    const u32 distance = node.reps[k];
    const u32 allowed = finder.Allowed(at, distance);
    if (allowed < kTarnMinMatch) continue;
    const u32 length = finder.Common(at, distance, allowed);
    const u32 price = repBase + RepIndexPrice(k, s, ps);
    for (u32 l = kTarnMinMatch; l <= length; ++l)
      Offer(index + l, price + RepLengthPrice(l, ps), index, kRep, static_cast<u8>(k), 0, reach);
  }
  const u32 normalBase = matchBase + TarnPrice(model.isRep[s], 0);
  u32 l = kTarnMinMatch;
  for (u32 m = 0; m < count; ++m) {
    for (; l <= matches[m].length; ++l) {
      const u32 price =
          normalBase + MatchLengthPrice(l, ps) + DistancePrice(matches[m].distance, l);
      Offer(index + l, price, index, kMatch, 0, matches[m].distance, reach);
    }
  }
}

// Codes the tokens on the cheapest path from node 0 to node stop; returns stop.
u32 TarnCoder::Emit(u32 at, u32 stop) {
  // Turn the back links into forward links: each node's `from` then names the next node.
  u32 next = stop;
  for (u32 i = stop; i > 0;) {
    const u32 from = nodes[i].from;
    nodes[i].from = next;
    next = i;
    i = from;
  }
  for (u32 i = next, start = 0; start < stop; start = i, i = nodes[i].from) {
    const Node& node = nodes[i];
    const u32 position = at + start;
    switch (node.kind) {
      case kLiteral:
        PutLiteral(position);
        break;
      case kShortRep:
        PutShortRep(position);
        break;
      case kRep:
        PutRep(position, node.repIndex, i - start);
        break;
      default:
        PutMatch(position, i - start, node.distance);
        break;
    }
  }
  return stop;
}

u32 TarnCoder::ParseRun(u32 at, const TarnMatch* matches, u32 count, TarnMatch* next,
                        u32* nextCount, bool* haveNext) {
  *haveNext = false;
  // A long repeat or match at the start is taken as it is.
  u32 bestRep = 0, bestRepLength = 0;
  for (u32 k = 0; k < kTarnReps; ++k) {
    const u32 allowed = finder.Allowed(at, reps[k]);
    const u32 length = allowed >= kTarnMinMatch ? finder.Common(at, reps[k], allowed) : 0;
    if (length > bestRepLength) bestRep = k, bestRepLength = length;
  }
  const u32 longest = count ? matches[count - 1].length : 0;
  if (bestRepLength >= nice || longest >= nice) {
    const bool rep = bestRepLength >= longest;
    const u32 distance = rep ? reps[bestRep] : matches[count - 1].distance;
    u32 length = rep ? bestRepLength : longest;
    // A match that fills the search's reach runs on as far as the bytes agree.
    if (length == kTarnMaxMatch)
      length = finder.Common(at, distance, finder.Allowed(at, distance, end - at));
    if (rep)
      PutRep(at, bestRep, length);
    else
      PutMatch(at, length, distance);
    for (u32 i = 1; i < length; ++i) finder.Skip(at + i);
    return length;
  }

  nodes[0].price = 0;
  nodes[0].state = state;
  for (u32 i = 0; i < kTarnReps; ++i) nodes[0].reps[i] = reps[i];
  u32 reach = 0;
  Relax(0, at, matches, count, &reach);
  u32 index = 1;
  for (; index < reach; ++index) {
    Settle(index);
    *nextCount = finder.Find(at + index, next);
    const u32 length = *nextCount ? next[*nextCount - 1].length : 0;
    if (length >= nice || index >= kTarnOptimumCap) {
      *haveNext = true;
      break;
    }
    Relax(index, at + index, next, *nextCount, &reach);
  }
  return *haveNext ? Join(at, index, haveNext) : Emit(at, index);
}

// A run stops where a long match starts; when the token that reaches there copies from the
// same distance and the bytes go on for the nice length, it is coded as one token (two would
// code the distance or its repeat twice at every shifted source of a delta).
u32 TarnCoder::Join(u32 at, u32 stop, bool* haveNext) {
  const Node node = nodes[stop];
  if (node.kind != kRep && node.kind != kMatch) return Emit(at, stop);
  const u32 distance = node.reps[0], position = at + stop;
  const u32 run =
      finder.Common(position, distance, finder.Allowed(position, distance, end - position));
  if (run < nice) return Emit(at, stop);
  Emit(at, node.from);
  const u32 length = stop - node.from + run;
  if (node.kind == kRep)
    PutRep(at + node.from, node.repIndex, length);
  else
    PutMatch(at + node.from, length, distance);
  for (u32 i = 1; i < run; ++i) finder.Skip(position + i);
  *haveNext = false;
  return stop + run;
}
