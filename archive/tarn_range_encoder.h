// The binary range coder's writing half and bit prices, for the Tarn coder only.
#pragma once

#include <cstring>

#include "archive/tarn_format.h"
#include "core/pools.h"

// Prices are in 1/16 bit.
constexpr u32 kTarnPriceShift = 4;
constexpr u32 kTarnInfinitePrice = 0x3FFFFFFFu;

// Price of a bit of value 0 with probability index prob >> 4.
const u32* TarnBitPrices();

inline u32 TarnPrice(u16 prob, u32 bit) {
  return TarnBitPrices()[(bit ? (1u << kTarnProbBits) - prob : prob) >> kTarnPriceShift];
}

class TarnRangeEncoder {
 public:
  ~TarnRangeEncoder() { g_ptrPool->Free(bytes); }

  bool Reserve(u32 capacityHint) {
    bytes = static_cast<u8*>(g_ptrPool->Alloc(capacityHint));
    capacity = bytes ? capacityHint : 0;
    return bytes != nullptr;
  }
  void Bit(u16* prob, u32 bit) {
    const u32 bound = (range >> kTarnProbBits) * *prob;
    if (!bit) {
      range = bound;
      *prob = static_cast<u16>(*prob + (((1u << kTarnProbBits) - *prob) >> kTarnMoveBits));
    } else {
      low += bound;
      range -= bound;
      *prob = static_cast<u16>(*prob - (*prob >> kTarnMoveBits));
    }
    while (range < kTarnTopValue) {
      range <<= 8;
      ShiftLow();
    }
  }
  void Tree(u16* probs, u32 bits, u32 symbol) {
    u32 m = 1;
    for (u32 i = bits; i-- > 0;) {
      const u32 bit = (symbol >> i) & 1;
      Bit(probs + m, bit);
      m = m << 1 | bit;
    }
  }
  void ReverseTree(u16* probs, u32 base, u32 bits, u32 symbol) {
    u32 m = 1;
    for (u32 i = 0; i < bits; ++i) {
      const u32 bit = (symbol >> i) & 1;
      Bit(probs + (base + m), bit);
      m = m << 1 | bit;
    }
  }
  void Direct(u32 value, u32 bits) {
    for (u32 i = bits; i-- > 0;) {
      range >>= 1;
      if ((value >> i) & 1) low += range;
      while (range < kTarnTopValue) {
        range <<= 8;
        ShiftLow();
      }
    }
  }
  void Finish() {
    for (u32 i = 0; i < 5; ++i) ShiftLow();
  }

  u8* bytes = nullptr;
  u32 size = 0;
  u32 capacity = 0;
  bool failed = false;

 private:
  // Bytes leave only once no carry can reach them: a run of FF bytes waits for the next one.
  void ShiftLow() {
    if (static_cast<u32>(low) < 0xFF000000u || (low >> 32) != 0) {
      const u8 carry = static_cast<u8>(low >> 32);
      u8 byte = cache;
      do {
        Put(static_cast<u8>(byte + carry));
        byte = 0xFF;
      } while (--pending != 0);
      cache = static_cast<u8>(low >> 24);
    }
    ++pending;
    low = (low & 0x00FFFFFFu) << 8;
  }
  void Put(u8 byte) {
    if (failed) return;
    if (size == capacity) {
      const u64 grown = static_cast<u64>(capacity) + capacity / 2 + 4096;
      void* more =
          grown > 0xFFFFFFFFu ? nullptr : g_ptrPool->Realloc(bytes, static_cast<u32>(grown));
      if (!more) {
        failed = true;
        return;
      }
      bytes = static_cast<u8*>(more);
      capacity = static_cast<u32>(grown);
    }
    bytes[size++] = byte;
  }

  u64 low = 0;
  u32 range = 0xFFFFFFFFu;
  u8 cache = 0;
  u64 pending = 1;
};

inline u32 TarnTreePrice(const u16* probs, u32 bits, u32 symbol) {
  u32 price = 0, m = 1;
  for (u32 i = bits; i-- > 0;) {
    const u32 bit = (symbol >> i) & 1;
    price += TarnPrice(probs[m], bit);
    m = m << 1 | bit;
  }
  return price;
}

inline u32 TarnReverseTreePrice(const u16* probs, u32 base, u32 bits, u32 symbol) {
  u32 price = 0, m = 1;
  for (u32 i = 0; i < bits; ++i) {
    const u32 bit = (symbol >> i) & 1;
    price += TarnPrice(probs[base + m], bit);
    m = m << 1 | bit;
  }
  return price;
}
