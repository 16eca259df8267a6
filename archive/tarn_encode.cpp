#include "archive/tarn_encode.h"

#include <cmath>
#include <new>

#include "archive/tarn_coder.h"
#include "archive/tarn_x86.h"
#include "core/crc32.h"

namespace {

constexpr u32 kRefreshTokens = 256;

void StoreLe32(u8* p, u32 value) {
  for (u32 i = 0; i < 4; ++i) p[i] = static_cast<u8>(value >> (8 * i));
}

void WriteHeader(u8* h, const TarnEncodeOptions& options, bool x86, u32 size, u32 dictionarySize,
                 u32 dictionaryCrc, u32 outputCrc) {
  StoreLe32(h, kTarnMagic);
  h[4] = kTarnVersion;
  h[5] =
      static_cast<u8>((x86 ? kTarnFlagX86 : 0) | (options.differences ? kTarnFlagDifferences : 0));
  h[6] = static_cast<u8>(options.literalContextBits | options.literalPositionBits << 4);
  h[7] = options.positionBits;
  h[8] = options.windowLog;
  h[9] = h[10] = h[11] = 0;
  StoreLe32(h + 12, size);
  StoreLe32(h + 16, dictionarySize);
  StoreLe32(h + 20, dictionaryCrc);
  StoreLe32(h + 24, outputCrc);
}

void PutLength(TarnRangeEncoder& out, TarnLengthModel& m, u32 length, u32 posState) {
  length -= kTarnMinMatch;
  if (length < kTarnLowLengths) {
    out.Bit(&m.choice, 0);
    out.Tree(m.low[posState], 3, length);
    return;
  }
  out.Bit(&m.choice, 1);
  length -= kTarnLowLengths;
  if (length < kTarnLowLengths) {
    out.Bit(&m.choice2, 0);
    out.Tree(m.mid[posState], 3, length);
  } else {
    out.Bit(&m.choice2, 1);
    length -= kTarnLowLengths;
    const u32 high = length < kTarnHighLengths - 1 ? length : kTarnHighLengths - 1;
    out.Tree(m.high, 8, high);
    if (high < kTarnHighLengths - 1) return;
    const u32 extra = length - high + 1;  // (2^count | bits)
    const u32 count = 31 - static_cast<u32>(__builtin_clz(extra));
    out.Tree(m.longCount, kTarnLongCountBits, count);
    out.Direct(extra - (1u << count), count);
  }
}

void FillLengthPrices(const TarnLengthModel& m, u32 posStates, u32 (*prices)[kTarnLengthSymbols]) {
  const u32 choice0 = TarnPrice(m.choice, 0), choice1 = TarnPrice(m.choice, 1);
  const u32 mid = choice1 + TarnPrice(m.choice2, 0), high = choice1 + TarnPrice(m.choice2, 1);
  for (u32 ps = 0; ps < posStates; ++ps) {
    for (u32 i = 0; i < kTarnLengthSymbols; ++i) {
      if (i < kTarnLowLengths)
        prices[ps][i] = choice0 + TarnTreePrice(m.low[ps], 3, i);
      else if (i < 2 * kTarnLowLengths)
        prices[ps][i] = mid + TarnTreePrice(m.mid[ps], 3, i - kTarnLowLengths);
      else
        prices[ps][i] = high + TarnTreePrice(m.high, 8, i - 2 * kTarnLowLengths);
    }
    // The longest length carries an empty extension.
    prices[ps][kTarnLengthSymbols - 1] += TarnTreePrice(m.longCount, kTarnLongCountBits, 0);
  }
}

bool OptionsValid(const TarnEncodeOptions& o) {
  return o.windowLog >= kTarnMinWindowLog && o.windowLog <= kTarnMaxWindowLog &&
         o.literalContextBits + o.literalPositionBits <= kTarnMaxLiteralBits &&
         o.positionBits <= kTarnMaxPositionBits && o.niceLength >= 8 &&
         o.niceLength <= kTarnMaxMatch && o.depth >= 1 && o.chainPositions >= 2;
}

}  // namespace

const u32* TarnBitPrices() {
  static u32 prices[(1u << kTarnProbBits) >> kTarnPriceShift];
  static bool ready = false;
  if (!ready) {
    for (u32 i = 0; i < sizeof(prices) / sizeof(prices[0]); ++i) {
      const double p = (i * 16.0 + 8.0) / (1u << kTarnProbBits);
      prices[i] = static_cast<u32>(-std::log2(p) * (1u << kTarnPriceShift) + 0.5);
    }
    ready = true;
  }
  return prices;
}

u32 TarnCoder::MatchByte(u32 at, u32 distance) const {
  if (distance > at) return 0;
  if (distance <= at - dictionarySize && distance > window) return 0;
  return data[at - distance];
}

void TarnCoder::PutLiteral(u32 at) {
  const u32 output = at - dictionarySize;
  out.Bit(&model.isMatch[state][output & positionMask], 0);
  const u32 previous = output ? data[at - 1] : 0;
  const u32 context = ((output & literalPositionMask) << literalContextBits) +
                      (previous >> (8 - literalContextBits));
  u16* probs = model.literal + 0x300 * context;
  u32 byte = data[at];
  u32 symbol = 1;
  if (state >= kTarnLiteralStates && differences) {
    byte = (byte - MatchByte(at, reps[0])) & 0xFF;
    probs += 0x100;
  } else if (state >= kTarnLiteralStates) {
    const u32 match = MatchByte(at, reps[0]);
    for (u32 i = 8; i-- > 0 && symbol < 0x100;) {
      const u32 bit = (byte >> i) & 1, matchBit = (match >> i) & 1;
      out.Bit(probs + 0x100 + (matchBit << 8) + symbol, bit);
      symbol = symbol << 1 | bit;
      if (bit != matchBit) break;
    }
  }
  while (symbol < 0x100) {
    const u32 bit = (byte >> (7 - (31 - static_cast<u32>(__builtin_clz(symbol))))) & 1;
    out.Bit(probs + symbol, bit);
    symbol = symbol << 1 | bit;
  }
  state = TarnAfterLiteral(state);
}

void TarnCoder::PutMatch(u32 at, u32 length, u32 distance) {
  const u32 ps = PosState(at);
  out.Bit(&model.isMatch[state][ps], 1);
  out.Bit(&model.isRep[state], 0);
  PutLength(out, model.matchLength, length, ps);
  const u32 value = distance - 1, slot = TarnSlot(value);
  out.Tree(model.slot[TarnLengthClass(length)], kTarnSlotBits, slot);
  if (slot >= kTarnStartModelSlot) {
    const u32 extra = (slot >> 1) - 1, base = (2 | (slot & 1)) << extra, rest = value - base;
    if (slot < kTarnEndModelSlot) {
      out.ReverseTree(model.special, base - slot - 1, extra, rest);
    } else {
      out.Direct(rest >> kTarnAlignBits, extra - kTarnAlignBits);
      out.ReverseTree(model.align, 0, kTarnAlignBits, rest & (kTarnAlignSize - 1));
    }
  }
  reps[3] = reps[2];
  reps[2] = reps[1];
  reps[1] = reps[0];
  reps[0] = distance;
  state = TarnAfterMatch(state);
  ++tokensSinceRefresh;
}

void TarnCoder::PutRep(u32 at, u32 index, u32 length) {
  const u32 ps = PosState(at);
  out.Bit(&model.isMatch[state][ps], 1);
  out.Bit(&model.isRep[state], 1);
  if (index == 0) {
    out.Bit(&model.isRepG0[state], 0);
    out.Bit(&model.isRep0Long[state][ps], 1);
  } else {
    out.Bit(&model.isRepG0[state], 1);
    out.Bit(&model.isRepG1[state], index > 1);
    if (index > 1) out.Bit(&model.isRepG2[state], index > 2);
    const u32 distance = reps[index];
    for (u32 i = index; i > 0; --i) reps[i] = reps[i - 1];
    reps[0] = distance;
  }
  PutLength(out, model.repLength, length, ps);
  state = TarnAfterRep(state);
  ++tokensSinceRefresh;
}

void TarnCoder::PutShortRep(u32 at) {
  const u32 ps = PosState(at);
  out.Bit(&model.isMatch[state][ps], 1);
  out.Bit(&model.isRep[state], 1);
  out.Bit(&model.isRepG0[state], 0);
  out.Bit(&model.isRep0Long[state][ps], 0);
  state = TarnAfterShortRep(state);
}

void TarnCoder::RefreshPrices() {
  tokensSinceRefresh = 0;
  FillLengthPrices(model.matchLength, positionMask + 1, matchLengthPrices);
  FillLengthPrices(model.repLength, positionMask + 1, repLengthPrices);
  for (u32 lc = 0; lc < kTarnLengthClasses; ++lc) {
    for (u32 slot = 0; slot < kTarnSlots; ++slot) {
      const u32 direct = slot >= kTarnEndModelSlot ? (slot >> 1) - 1 - kTarnAlignBits : 0;
      slotPrices[lc][slot] =
          TarnTreePrice(model.slot[lc], kTarnSlotBits, slot) + (direct << kTarnPriceShift);
    }
    for (u32 value = 0; value < kTarnModelledDistances; ++value) {
      const u32 slot = TarnSlot(value);
      u32 price = slotPrices[lc][slot];
      if (slot >= kTarnStartModelSlot) {
        const u32 extra = (slot >> 1) - 1, base = (2 | (slot & 1)) << extra;
        price += TarnReverseTreePrice(model.special, base - slot - 1, extra, value - base);
      }
      nearPrices[lc][value] = price;
    }
  }
  for (u32 i = 0; i < kTarnAlignSize; ++i)
    alignPrices[i] = TarnReverseTreePrice(model.align, 0, kTarnAlignBits, i);
}

u32 TarnCoder::LiteralPrice(u32 at, u32 tokenState, u32 repDistance) const {
  const u32 output = at - dictionarySize;
  const u32 previous = output ? data[at - 1] : 0;
  const u32 context = ((output & literalPositionMask) << literalContextBits) +
                      (previous >> (8 - literalContextBits));
  const u16* probs = model.literal + 0x300 * context;
  u32 byte = data[at];
  u32 price = 0, symbol = 1;
  bool matched = tokenState >= kTarnLiteralStates;
  if (matched && differences) {
    byte = (byte - MatchByte(at, repDistance)) & 0xFF;
    probs += 0x100;
    matched = false;
  }
  const u32 match = matched ? MatchByte(at, repDistance) : 0;
  for (u32 i = 8; i-- > 0;) {
    const u32 bit = (byte >> i) & 1;
    if (matched) {
      const u32 matchBit = (match >> i) & 1;
      price += TarnPrice(probs[0x100 + (matchBit << 8) + symbol], bit);
      matched = bit == matchBit;
    } else {
      price += TarnPrice(probs[symbol], bit);
    }
    symbol = symbol << 1 | bit;
  }
  return price;
}

u32 TarnCoder::RepIndexPrice(u32 index, u32 s, u32 posState) const {
  if (index == 0)
    return TarnPrice(model.isRepG0[s], 0) + TarnPrice(model.isRep0Long[s][posState], 1);
  u32 price = TarnPrice(model.isRepG0[s], 1) + TarnPrice(model.isRepG1[s], index > 1);
  if (index > 1) price += TarnPrice(model.isRepG2[s], index > 2);
  return price;
}

u32 TarnCoder::DistancePrice(u32 distance, u32 length) const {
  const u32 lc = TarnLengthClass(length), value = distance - 1;
  if (value < kTarnModelledDistances) return nearPrices[lc][value];
  return slotPrices[lc][TarnSlot(value)] + alignPrices[value & (kTarnAlignSize - 1)];
}

ErrorCode TarnCoder::Run() {
  TarnModelReset(&model);
  for (u32& rep : reps) rep = TarnInitialRep(dictionarySize);
  for (u32 at = 0; at < dictionarySize; ++at) finder.Skip(at);
  RefreshPrices();
  TarnMatch matches[TarnMatchFinder::kMaxMatches], next[TarnMatchFinder::kMaxMatches];
  u32 count = 0, nextCount = 0;
  bool haveNext = false;
  for (u32 at = dictionarySize; at < end;) {
    if (haveNext) {
      for (u32 i = 0; i < nextCount; ++i) matches[i] = next[i];
      count = nextCount;
    } else {
      count = finder.Find(at, matches);
    }
    at += ParseRun(at, matches, count, next, &nextCount, &haveNext);
    if (out.failed) return ERR_NOTENOUGHMEM;
    if (tokensSinceRefresh >= kRefreshTokens) RefreshPrices();
  }
  out.Finish();
  return out.failed ? ERR_NOTENOUGHMEM : nullptr;
}

ErrorCode TarnEncode(const u8* data, u32 dictionarySize, u32 size, const TarnEncodeOptions& options,
                     u8** coded, u32* codedSize) {
  *coded = nullptr;
  *codedSize = 0;
  if (!OptionsValid(options) || size > 0xFFFFFFFFu - dictionarySize) return ERR_BADPARAMS;
  const bool x86 = options.x86 && dictionarySize == 0;
  u8* filtered = nullptr;
  if (x86 && size) {
    filtered = static_cast<u8*>(g_ptrPool->Alloc(size));
    if (!filtered) return ERR_NOTENOUGHMEM;
    std::memcpy(filtered, data, size);
    TarnX86Convert(filtered, size, 0, true, true);
  }
  void* memory = g_ptrPool->Alloc(sizeof(TarnCoder));
  if (!memory) {
    g_ptrPool->Free(filtered);
    return ERR_NOTENOUGHMEM;
  }
  TarnCoder* coder = new (memory) TarnCoder();
  coder->data = filtered ? filtered : data;
  coder->dictionarySize = dictionarySize;
  coder->end = dictionarySize + size;
  coder->window = 1u << options.windowLog;
  coder->positionMask = (1u << options.positionBits) - 1;
  coder->literalPositionMask = (1u << options.literalPositionBits) - 1;
  coder->literalContextBits = options.literalContextBits;
  coder->nice = options.niceLength;
  coder->differences = options.differences;
  const TarnMatchLimits limits = {dictionarySize,     coder->window,          options.depth,
                                  options.niceLength, options.chainPositions, options.binaryTree};
  const u32 reach = dictionarySize ? coder->end : (size < coder->window ? size : coder->window);
  ErrorCode error = coder->finder.Init(coder->data, coder->end, reach, limits);
  if (!error && !coder->out.Reserve(size / 2 + 4096)) error = ERR_NOTENOUGHMEM;
  for (u32 i = 0; !error && i < kTarnHeaderSize; ++i) coder->out.bytes[coder->out.size++] = 0;
  if (!error) error = coder->Run();
  if (!error) {
    WriteHeader(coder->out.bytes, options, x86, size, dictionarySize,
                dictionarySize ? Crc32Update(0, data, dictionarySize) : 0,
                Crc32Update(0, data + dictionarySize, size));
    *coded = coder->out.bytes;
    *codedSize = coder->out.size;
    coder->out.bytes = nullptr;
  }
  coder->~TarnCoder();
  g_ptrPool->Free(memory);
  g_ptrPool->Free(filtered);
  return error;
}
