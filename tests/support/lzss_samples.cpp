#include "support/lzss_samples.h"

namespace {

class BitReader {
 public:
  explicit BitReader(const std::vector<u8>& bytes) : data(bytes) {}
  u32 Take(unsigned count) {
    u32 value = 0;
    for (unsigned i = 0; i < count; ++i) {
      size_t byte = bit / 8;
      u32 b = byte < data.size() ? (data[byte] >> (7 - bit % 8)) & 1 : 0;
      value = value << 1 | b;
      ++bit;
    }
    return value;
  }
  size_t ByteIndex() const { return bit / 8; }

 private:
  const std::vector<u8>& data;
  size_t bit = 0;
};

}  // namespace

bool ReferenceDecode(const std::vector<u8>& coded, u8 method, u32 capacity, std::vector<u8>* output,
                     const std::vector<u8>& initial) {
  const unsigned offsetBits = method >> 4, lengthBits = method & 15;
  std::vector<u8> out = initial;
  out.resize(capacity);
  size_t produced = 0;
  if (!coded.empty()) {
    BitReader reader(coded);
    do {
      if (reader.Take(1)) {
        if (produced >= capacity) return false;
        out[produced++] = static_cast<u8>(reader.Take(8));
      } else {
        u32 code = reader.Take(offsetBits);
        u32 count = reader.Take(lengthBits) + 2;
        if (produced + count > capacity) return false;
        if (code == 0) {
          produced += count;  // a skip keeps what the output held
        } else {
          size_t distance = (size_t{1} << offsetBits) - code;
          if (distance > produced) return false;
          for (u32 i = 0; i < count; ++i, ++produced) out[produced] = out[produced - distance];
        }
      }
    } while (reader.ByteIndex() < coded.size() - 1);
  }
  out.resize(produced);
  *output = out;
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
