// The block coders (greedy and optimal) and the block decoder, held to the plain bit-at-a-time
// decoder of the test support and to a brute-force model of the best token choice. The decoder's
// handling of arbitrary streams is held to the plain one by the replayed fuzz_lzss_decode corpus.
#include "archive/lzss_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "archive/lzss_optimal.h"
#include "support/lzss_samples.h"

namespace {

typedef std::vector<u8> Bytes;

Bytes Encode(LzssBlockEncoder encoder, const Bytes& block, u8 method, const Bytes* reference = {}) {
  Bytes coded(block.size() + block.size() / 8 + 16);
  u32 length = static_cast<u32>(coded.size());
  ErrorCode error = encoder(block.data(), static_cast<u32>(block.size()), coded.data(), &length,
                            method, reference ? reference->data() : nullptr);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  coded.resize(error ? 0 : length);
  return coded;
}

// Decodes as the container reader does, into a buffer of size + size / 8 + 2 bytes: over a copy of
// `initial` (what skips leave) when given, else in place from the coded bytes at the buffer's
// back. The reader fills what follows the output with zeros.
Bytes Decode(const Bytes& coded, u8 method, u32 size, const Bytes* initial = nullptr) {
  Bytes buffer = initial ? *initial : Bytes();
  buffer.resize(size + size / 8 + 2);
  const u8* source = coded.data();
  if (!initial && !coded.empty()) {
    if (coded.size() > buffer.size()) return {};
    source = static_cast<u8*>(
        std::memmove(buffer.data() + buffer.size() - coded.size(), coded.data(), coded.size()));
  }
  u32 produced = 0;
  ErrorCode error = LzssDecodeBlock(source, static_cast<u32>(coded.size()), buffer.data(), size,
                                    &produced, method);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  std::fill(buffer.begin() + std::min(produced, size), buffer.end(), 0);
  buffer.resize(size);
  return buffer;
}

Bytes Random(std::mt19937& random, u32 size, u32 alphabet = 256) {
  Bytes bytes(size);
  for (u8& b : bytes) b = static_cast<u8>(random() % alphabet);
  return bytes;
}

// The fewest bytes any token sequence can take to code block, found by trying every literal,
// distance, length and skip at every position; the reader fills a zero tail in.
u32 FewestBytes(const Bytes& block, u8 method, const Bytes* reference) {
  const u32 window = 1u << (method >> 4), longest = (1u << (method & 15)) + 1;
  const u32 matchBits = 1 + (method >> 4) + (method & 15), size = static_cast<u32>(block.size());
  u32 end = size;
  while (end > 0 && block[end - 1] == 0) --end;
  if (end == 0) return 0;
  std::vector<u32> bits(size + 1, 0xFFFFFFFF);
  bits[1] = 9;  // the first token is a literal
  for (u32 p = 1; p < size; ++p) {
    if (bits[p] == 0xFFFFFFFF) continue;
    bits[p + 1] = std::min(bits[p + 1], bits[p] + 9);
    for (u32 d = 1; d <= window; ++d) {  // d = window: a skip against the reference
      const u8* from = d < window ? (d <= p ? &block[p - d] : nullptr)
                                  : (reference ? &(*reference)[p] : nullptr);
      for (u32 n = 0; from && n < longest && p + n < size && block[p + n] == from[n]; ++n)
        if (n >= 1) bits[p + n + 1] = std::min(bits[p + n + 1], bits[p] + matchBits);
    }
  }
  return (*std::min_element(bits.begin() + end, bits.end()) + 7) / 8;
}

}  // namespace

TEST(LzssCodec, OptimalCoderMatchesExhaustiveSearch) {
  std::mt19937 random(20261206);
  for (u8 method : {0xA1, 0xA3, 0xB2, 0xB3, 0xC4, 0xC5}) {
    for (u32 round = 0; round < 400; ++round) {
      // Small alphabets make many overlapping matches; some blocks end in zeros, some have a
      // reference that differs in a few places.
      Bytes block = Random(random, 1 + random() % 40, 1 + random() % 4);
      if (round % 3 == 0)
        std::fill(block.end() - std::min<size_t>(block.size(), random() % 6), block.end(), 0);
      Bytes reference = block;
      for (u32 changes = random() % 5; changes > 0; --changes)
        reference[random() % block.size()] = static_cast<u8>(random() % 3);
      const Bytes* ref = round % 2 ? &reference : nullptr;
      const Bytes coded = Encode(LzssEncodeBlockOptimal, block, method, ref);
      ASSERT_EQ(coded.size(), FewestBytes(block, method, ref))
          << std::hex << +method << " " << std::dec << round;
      ASSERT_EQ(Decode(coded, method, static_cast<u32>(block.size()), ref), block);
    }
  }
  // Repeats at distances just inside and just outside the 1,023-byte window of 0xA?.
  for (u8 method : {u8{0xA2}, u8{0xA5}}) {
    Bytes block = Random(random, 1400);
    for (u32 i = 1023; i < 1400; i += 37) block[i] = block[i - 1023];
    for (u32 i = 1024; i + 3 < 1400; i += 41) std::memcpy(&block[i], &block[i - 1024], 3);
    EXPECT_EQ(Encode(LzssEncodeBlockOptimal, block, method).size(),
              FewestBytes(block, method, nullptr));
  }
}

TEST(LzssCodec, RefusalsLeaveTheCallersValuesAlone) {
  const Bytes block = SampleBlocks(3000)[2].bytes;
  for (LzssBlockEncoder encoder : {LzssEncodeBlock, LzssEncodeBlockOptimal}) {
    const Bytes coded = Encode(encoder, block, 0xC4);
    Bytes out(coded.size() + 8, 0xAA);
    u32 capacity = static_cast<u32>(coded.size()) - 1;
    EXPECT_EQ(encoder(block.data(), 3000, out.data(), &capacity, 0xC4, nullptr),
              ERR_BUFFERTOOSMALL);
    EXPECT_EQ(capacity, coded.size() - 1);
    EXPECT_EQ(out[coded.size() - 1], 0xAA) << "nothing past the capacity";
    for (u8 invalid : {0x94, 0xA0, 0xC6, 0xD1}) {
      capacity = 16;
      EXPECT_EQ(encoder(block.data(), 3000, out.data(), &capacity, invalid, nullptr),
                ERR_NOSUCHBITLENGTHS);
      EXPECT_EQ(capacity, 16u);
    }
    // Success clears the destination up to the capacity, padding bits included.
    capacity = static_cast<u32>(out.size());
    ASSERT_EQ(encoder(block.data(), 3000, out.data(), &capacity, 0xC4, nullptr), nullptr);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + capacity), coded);
    EXPECT_EQ(Bytes(out.begin() + capacity, out.end()), Bytes(out.size() - capacity, 0));
    capacity = 4;
    EXPECT_EQ(encoder(out.data(), 0, out.data(), &capacity, 0xC4, nullptr), nullptr);
    EXPECT_EQ(capacity, 0u);
  }
  EXPECT_EQ(LzssEncodeBlockOptimal(block.data(), 3000, nullptr, nullptr, 0xC4, nullptr),
            ERR_BADPARAMS);
}
