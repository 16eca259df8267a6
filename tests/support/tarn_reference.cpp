#include "support/tarn_reference.h"

#include "core/crc32.h"

namespace {

u32 Le32(const std::vector<u8>& s, size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<u32>(s[at + 3]) << 24;
}

struct Bits {
  const std::vector<u8>& s;
  size_t next;
  bool overrun = false;
  u32 range = 0xFFFFFFFF, code = 0;

  u32 Byte() {
    if (next < s.size()) return s[next++];
    overrun = true;
    return 0;
  }
  void Normalize() {
    if (range < (1u << 24)) range <<= 8, code = code << 8 | Byte();
  }
  u32 Bit(u16& p) {
    const u32 bound = (range >> 11) * p;
    const bool one = code >= bound;
    if (one)
      code -= bound, range -= bound, p -= p >> 5;
    else
      range = bound, p += (2048 - p) >> 5;
    Normalize();
    return one;
  }
  u32 Direct() {
    range >>= 1;
    const bool one = code >= range;
    if (one) code -= range;
    Normalize();
    return one;
  }
  u32 Tree(std::vector<u16>& p, size_t base, int bits) {
    u32 m = 1;
    for (int i = 0; i < bits; ++i) m = 2 * m + Bit(p[base + m]);
    return m - (1u << bits);
  }
  u32 Reverse(std::vector<u16>& p, size_t base, int bits) {
    u32 m = 1, v = 0;
    for (int i = 0; i < bits; ++i) {
      const u32 b = Bit(p[base + m]);
      m = 2 * m + b;
      v |= b << i;
    }
    return v;
  }
};

struct Lengths {
  std::vector<u16> choice = std::vector<u16>(2, 1024), low = std::vector<u16>(16 * 8, 1024),
                   mid = std::vector<u16>(16 * 8, 1024), high = std::vector<u16>(256, 1024),
                   count = std::vector<u16>(32, 1024);
  u64 Decode(Bits& b, u32 ps) {
    if (!b.Bit(choice[0])) return 2 + b.Tree(low, ps * 8, 3);
    if (!b.Bit(choice[1])) return 10 + b.Tree(mid, ps * 8, 3);
    const u32 h = b.Tree(high, 0, 8);
    if (h < 255) return 18 + h;
    const int k = b.Tree(count, 0, 5);
    u64 bits = 1;
    for (int i = 0; i < k; ++i) bits = 2 * bits + b.Direct();
    return 273 + bits - 1;
  }
};

}  // namespace

bool TarnReferenceDecode(const std::vector<u8>& s, const std::vector<u8>& dict,
                         std::vector<u8>* output) {
  if (s.size() < 28 || Le32(s, 0) != 0x4E524154 || s[4] != 1 || (s[5] & ~3) || s[9] || s[10] ||
      s[11])
    return false;
  const bool x86 = s[5] & 1;
  const u32 lc = s[6] & 15, lp = s[6] >> 4, pb = s[7], log = s[8];
  const u32 size = Le32(s, 12), dictSize = Le32(s, 16), crc = Le32(s, 24);
  if (lc + lp > 4 || pb > 4 || log < 12 || log > 30 || dictSize != dict.size() || (x86 && dictSize))
    return false;
  const u64 window = 1ull << log;

  std::vector<u8> all(dict);
  std::vector<u16> isMatch(12 * 16, 1024), isRep(12, 1024), g0(12, 1024), g1(12, 1024),
      g2(12, 1024), rep0Long(12 * 16, 1024), slots(4 * 64, 1024), special(114, 1024),
      align(16, 1024), literal(0x300 << (lc + lp), 1024);
  Lengths matchLengths, repLengths;
  Bits b{s, 28};
  if (b.Byte() != 0) return false;
  for (int i = 0; i < 4; ++i) b.code = b.code << 8 | b.Byte();

  // The byte `d` back from output position p, as the format defines it for literals.
  auto back = [&](u64 p, u64 d) -> u32 {
    if (d <= p && d > window) return 0;
    return d <= p + dictSize ? all[dictSize + p - d] : 0;
  };
  u32 state = 0;
  u64 rep[4];
  for (u64& r : rep) r = dictSize ? dictSize : 1;
  for (u64 p = 0; p < size;) {
    const u32 ps = p & ((1u << pb) - 1);
    if (!b.Bit(isMatch[state * 16 + ps])) {
      const u32 prev = p ? all.back() : 0;
      const size_t base = 0x300 * (((p & ((1u << lp) - 1)) << lc) + (prev >> (8 - lc)));
      u32 sym = 1;
      if (state >= 7 && (s[5] & 2)) {  // the difference to the match byte
        while (sym < 0x100) sym = 2 * sym + b.Bit(literal[base + 0x100 + sym]);
        sym += back(p, rep[0]);
      } else if (state >= 7) {
        u32 match = back(p, rep[0]);
        for (int i = 7; i >= 0 && sym < 0x100; --i) {
          const u32 mb = (match >> i) & 1;
          const u32 bit = b.Bit(literal[base + 0x100 + mb * 0x100 + sym]);
          sym = 2 * sym + bit;
          if (bit != mb) break;
        }
      }
      while (sym < 0x100) sym = 2 * sym + b.Bit(literal[base + sym]);
      all.push_back(static_cast<u8>(sym & 0xFF));
      ++p;
      state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
      continue;
    }
    u64 len;
    if (!b.Bit(isRep[state])) {
      len = matchLengths.Decode(b, ps);
      const u32 slot = b.Tree(slots, 64 * (len < 5 ? len - 2 : 3), 6);
      u64 dist = slot;
      if (slot >= 4) {
        const int extra = slot / 2 - 1;
        dist = static_cast<u64>(2 | (slot & 1)) << extra;
        if (slot < 14) {
          dist += b.Reverse(special, dist - slot - 1, extra);
        } else {
          u64 direct = 0;
          for (int i = 0; i < extra - 4; ++i) direct = 2 * direct + b.Direct();
          dist += (direct << 4) + b.Reverse(align, 0, 4);
        }
      }
      rep[3] = rep[2], rep[2] = rep[1], rep[1] = rep[0], rep[0] = dist + 1;
      state = state < 7 ? 7 : 10;
    } else if (!b.Bit(g0[state])) {
      if (!b.Bit(rep0Long[state * 16 + ps])) {
        len = 1;
        state = state < 7 ? 9 : 11;
      } else {
        len = repLengths.Decode(b, ps);
        state = state < 7 ? 8 : 11;
      }
    } else {
      int k = !b.Bit(g1[state]) ? 1 : !b.Bit(g2[state]) ? 2 : 3;
      const u64 d = rep[k];
      for (; k > 0; --k) rep[k] = rep[k - 1];
      rep[0] = d;
      len = repLengths.Decode(b, ps);
      state = state < 7 ? 8 : 11;
    }
    if (b.overrun || len > size - p) return false;
    for (u64 i = 0; i < len; ++i, ++p) {
      const u64 d = rep[0];
      // A byte from the output must lie within the window; from the dictionary, anywhere.
      if (d > p + dictSize || (d <= p && d > window)) return false;
      all.push_back(all[dictSize + p - d]);
    }
  }
  if (b.overrun || b.next != s.size()) return false;
  output->assign(all.begin() + dictSize, all.end());
  if (x86) {
    std::vector<u8>& o = *output;
    for (size_t i = 0; i + 5 <= o.size(); ++i) {
      if (o[i] != 0xE8 && o[i] != 0xE9) continue;
      if (o[i + 4] == 0 || o[i + 4] == 0xFF) {
        u32 v = Le32(o, i + 1) - static_cast<u32>(i + 5);
        v = (v & 0x1000000) ? v | 0xFE000000 : v & 0x1FFFFFF;
        for (int j = 0; j < 4; ++j) o[i + 1 + j] = static_cast<u8>(v >> (8 * j));
      }
      i += 4;
    }
  }
  return Crc32Update(0, output->data(), output->size()) == crc;
}
