#include "support/lzss_samples.h"

bool ReferenceDecode(const u8* coded, u32 size, u8 method, u8* out, u32 capacity, u32* produced) {
  const u32 offsetBits = method >> 4, lengthBits = method & 15, window = 1u << offsetBits;
  u64 bit = 0;
  auto take = [&](u32 count) {
    u32 value = 0;
    for (u32 i = 0; i < count; ++i, ++bit) {
      const u64 at = bit / 8;
      value = value << 1 | (at < size ? (coded[at] >> (7 - bit % 8)) & 1 : 0);
    }
    return value;
  };
  u32 at = 0;
  if (size > 0) {
    do {
      if (take(1)) {
        if (at >= capacity) return false;
        out[at++] = static_cast<u8>(take(8));
      } else {
        const u32 code = take(offsetBits), length = take(lengthBits) + 2;
        if (length > capacity - at) return false;
        if (code != 0) {
          if (window - code > at) return false;
          for (u32 i = 0; i < length; ++i) out[at + i] = out[at + i - (window - code)];
        }
        at += length;
      }
    } while (bit / 8 < size - 1);
  }
  *produced = at;
  return true;
}

std::vector<u8> RandomBytes(u32 size, u32 seed) {
  std::vector<u8> bytes(size);
  u32 state = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<u8>(state >> 7);
  }
  return bytes;
}

std::vector<SampleBlock> SampleBlocks(u32 size) {
  std::vector<SampleBlock> blocks;
  std::string text;
  const char* words[] = {"patch ",   "file ", "the ",    "[str] ", "Version=", "0x0001000A\r\n",
                         "copying ", "game ", "folder ", "|",      "language "};
  u32 state = 7;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += words[(state >> 16) % 11];
  }
  text.resize(size);
  blocks.push_back({"text", std::vector<u8>(text.begin(), text.end())});

  std::vector<u8> binary(size);
  for (u32 i = 0; i < size; ++i) {
    // Structured records: small counters, repeated field tags, a few noisy bytes.
    u32 record = i / 16, field = i % 16;
    binary[i] = field < 4   ? static_cast<u8>(record >> (8 * field))
                : field < 8 ? static_cast<u8>(0xF0 | field)
                            : static_cast<u8>((record * 31 + field * 7) & 0x3F);
  }
  blocks.push_back({"binary", binary});
  blocks.push_back({"random", RandomBytes(size, 3)});
  blocks.push_back({"zeros", std::vector<u8>(size, 0)});
  std::vector<u8> runs(size);
  for (u32 i = 0; i < size; ++i) runs[i] = static_cast<u8>((i / 37) % 5 == 0 ? i : (i / 37) * 3);
  blocks.push_back({"runs", runs});
  return blocks;
}

std::vector<u8> AllMethods() {
  std::vector<u8> methods;
  for (u8 b = 10; b <= 12; ++b)
    for (u8 l = 1; l <= 5; ++l) methods.push_back(static_cast<u8>(b << 4 | l));
  return methods;
}
