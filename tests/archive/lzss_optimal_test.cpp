#include "archive/lzss_optimal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "archive/lzss_codec.h"

namespace {

const u8 kAllMethods[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                          0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};

typedef std::vector<u8> Bytes;

// The fewest bytes any token sequence can take to code block, found by trying every token (every
// literal, every distance and length, every skip) at every output position. It shares nothing
// with the coder: no match finder, no assumption about which match is best.
u32 FewestBytes(const Bytes& block, u8 method, const Bytes* reference) {
  const u32 offsetBits = method >> 4, lengthBits = method & 15;
  const u32 window = 1u << offsetBits, longest = (1u << lengthBits) + 1;
  const u32 matchCost = 1 + offsetBits + lengthBits;
  const u32 size = static_cast<u32>(block.size());
  u32 end = size;
  while (end > 0 && block[end - 1] == 0) --end;
  if (end == 0) return 0;
  const u32 kUnreached = 0xFFFFFFFF;
  std::vector<u32> bits(size + 1, kUnreached);
  bits[1] = 9;  // the first token is a literal
  for (u32 p = 1; p < size; ++p) {
    if (bits[p] == kUnreached) continue;
    bits[p + 1] = std::min(bits[p + 1], bits[p] + 9);
    for (u32 d = 1; d < window && d <= p; ++d) {
      for (u32 n = 0; n < longest && p + n < size && block[p + n] == block[p - d + n]; ++n) {
        if (n + 1 >= 2) bits[p + n + 1] = std::min(bits[p + n + 1], bits[p] + matchCost);
      }
    }
    if (reference) {
      for (u32 n = 0; n < longest && p + n < size && block[p + n] == (*reference)[p + n]; ++n) {
        if (n + 1 >= 2) bits[p + n + 1] = std::min(bits[p + n + 1], bits[p] + matchCost);
      }
    }
  }
  u32 best = kUnreached;
  for (u32 p = end; p <= size; ++p) best = std::min(best, bits[p]);
  return (best + 7) / 8;
}

Bytes Encode(const Bytes& block, u8 method, const Bytes* reference = nullptr) {
  Bytes coded(block.size() + block.size() / 8 + 16);
  u32 length = static_cast<u32>(coded.size());
  ErrorCode error =
      LzssEncodeBlockOptimal(block.data(), static_cast<u32>(block.size()), coded.data(), &length,
                             method, reference ? reference->data() : nullptr);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  coded.resize(error ? 0 : length);
  return coded;
}

// Decodes as the container reader does: the output buffer starts with the reference (what a skip
// leaves in place) or zeros, and everything past the decoded length reads as zeros.
Bytes Decode(const Bytes& coded, u32 blockSize, u8 method, const Bytes* reference = nullptr) {
  Bytes out = reference ? *reference : Bytes(blockSize, 0);
  u32 produced = 0;
  ErrorCode error = LzssDecodeBlock(coded.data(), static_cast<u32>(coded.size()), out.data(),
                                    blockSize, &produced, method);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  EXPECT_LE(produced, blockSize);
  std::fill(out.begin() + std::min(produced, blockSize), out.end(), 0);
  return out;
}

Bytes RandomBlock(std::mt19937& random, u32 size, u32 alphabet, u32 zeroTail) {
  Bytes block(size);
  for (u8& b : block) b = static_cast<u8>(random() % alphabet);
  for (u32 i = size > zeroTail ? size - zeroTail : 0; i < size; ++i) block[i] = 0;
  return block;
}

// Text, a binary-looking stretch, a long run and a zero tail: the mix a patch carries.
Bytes MixedBlock(u32 size, u32 seed) {
  std::mt19937 random(seed);
  static const char kWords[][8] = {"patch ", "vorn ", "file ", "the ", "data ", "\r\n", "block "};
  Bytes block;
  while (block.size() < size / 3) {
    const char* word = kWords[random() % 7];
    block.insert(block.end(), word, word + std::strlen(word));
  }
  while (block.size() < 2 * size / 3) {
    u32 value = random() % 64;
    block.push_back(static_cast<u8>(value));
    block.push_back(static_cast<u8>(value == 0 ? 0xFF : 0));
    block.push_back(0x8B);
  }
  block.resize(size - size / 8, 0x90);
  block.resize(size, 0);
  return block;
}

TEST(LzssOptimal, MatchesExhaustiveSearchOnSmallBlocks) {
  std::mt19937 random(20261206);
  const u8 methods[] = {0xA1, 0xA3, 0xB2, 0xC4, 0xC5};
  for (u8 method : methods) {
    for (u32 round = 0; round < 600; ++round) {
      const u32 size = 1 + random() % 40;
      const u32 alphabet = 1 + random() % 4;  // small alphabets make many overlapping matches
      Bytes block = RandomBlock(random, size, alphabet, round % 3 == 0 ? random() % 6 : 0);
      Bytes coded = Encode(block, method);
      ASSERT_EQ(coded.size(), FewestBytes(block, method, nullptr))
          << "method " << std::hex << int(method) << " round " << std::dec << round;
      ASSERT_EQ(Decode(coded, size, method), block) << "round " << round;
    }
  }
}

TEST(LzssOptimal, MatchesExhaustiveSearchAcrossTheWindowEdge) {
  // Blocks longer than the 1,023-byte window of 0xA1..0xA5: repeats at distances just inside and
  // just outside the window must be told apart exactly.
  std::mt19937 random(7);
  for (u8 method : {u8{0xA2}, u8{0xA5}}) {
    for (u32 round = 0; round < 3; ++round) {
      Bytes block = RandomBlock(random, 1400, 256, 0);
      for (u32 i = 1023; i < 1400; i += 37) block[i] = block[i - 1023];
      for (u32 i = 1024; i + 3 < 1400; i += 41) std::memcpy(&block[i], &block[i - 1024], 3);
      for (u32 i = 0; i < 40; ++i) block[1200 + i] = static_cast<u8>(random() % 2);
      Bytes coded = Encode(block, method);
      ASSERT_EQ(coded.size(), FewestBytes(block, method, nullptr));
      ASSERT_EQ(Decode(coded, 1400, method), block);
    }
  }
}

TEST(LzssOptimal, SkipsAgainstAReferenceAreOptimalToo) {
  std::mt19937 random(99);
  for (u32 round = 0; round < 400; ++round) {
    const u32 size = 2 + random() % 30;
    Bytes reference = RandomBlock(random, size, 3, 0);
    Bytes block = reference;
    for (u32 changes = random() % 5; changes > 0; --changes) {
      block[random() % size] = static_cast<u8>(random() % 3);
    }
    Bytes coded = Encode(block, 0xB3, &reference);
    ASSERT_EQ(coded.size(), FewestBytes(block, 0xB3, &reference)) << "round " << round;
    ASSERT_EQ(Decode(coded, size, 0xB3, &reference), block) << "round " << round;
  }
}

TEST(LzssOptimal, RoundTripsAndBeatsTheTreeCoderForEveryMethod) {
  const Bytes block = MixedBlock(32768, 1);
  for (u8 method : kAllMethods) {
    Bytes coded = Encode(block, method);
    ASSERT_FALSE(coded.empty());
    EXPECT_EQ(Decode(coded, 32768, method), block) << std::hex << int(method);

    Bytes greedy(block.size() + block.size() / 8 + 2);
    u32 greedyLength = static_cast<u32>(greedy.size());
    ASSERT_EQ(LzssEncodeBlock(block.data(), 32768, greedy.data(), &greedyLength, method, nullptr),
              nullptr);
    EXPECT_LE(coded.size(), greedyLength) << std::hex << int(method);
  }
}

TEST(LzssOptimal, DecodesInPlaceBehindItsOwnInput) {
  // The container reader puts the coded bytes at the back of a buffer of block size + size / 8 + 2
  // bytes and decodes into its front; dense blocks that barely compress are the tight case.
  std::mt19937 random(3);
  for (u8 method : kAllMethods) {
    Bytes block = RandomBlock(random, 32768, 256, 0);
    for (u32 i = 64; i < block.size(); i += 97) block[i] = block[i - 64];
    Bytes coded = Encode(block, method);
    const u32 bufferSize = 32768 + 32768 / 8 + 2;
    ASSERT_LT(coded.size(), bufferSize);
    Bytes buffer(bufferSize, 0xEE);
    std::memcpy(&buffer[bufferSize - coded.size()], coded.data(), coded.size());
    u32 produced = 0;
    ASSERT_EQ(LzssDecodeBlock(&buffer[bufferSize - coded.size()], static_cast<u32>(coded.size()),
                              buffer.data(), 32768, &produced, method),
              nullptr);
    ASSERT_EQ(produced, 32768u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), buffer.begin())) << std::hex << int(method);
  }
}

TEST(LzssOptimal, LeavesOutTheZeroTail) {
  Bytes zeros(4096, 0);
  EXPECT_TRUE(Encode(zeros, 0xC4).empty());

  // One literal, then the tail: 9 bits in 2 bytes, not a match run over 4,095 zeros.
  Bytes one(4096, 0);
  one[0] = 'x';
  Bytes coded = Encode(one, 0xC4);
  EXPECT_EQ(coded, (Bytes{0xBC, 0x00}));
  EXPECT_EQ(Decode(coded, 4096, 0xC4), one);
}

TEST(LzssOptimal, RefusesBadArgumentsWithoutWritingPastTheCapacity) {
  const Bytes block = MixedBlock(2048, 5);
  Bytes out(64, 0xAA);
  u32 length = 32;
  EXPECT_EQ(LzssEncodeBlockOptimal(block.data(), 2048, out.data(), &length, 0xC4, nullptr),
            ERR_BUFFERTOOSMALL);
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(out[32], 0xAA);

  length = 64;
  EXPECT_EQ(LzssEncodeBlockOptimal(block.data(), 2048, out.data(), &length, 0xC6, nullptr),
            ERR_NOSUCHBITLENGTHS);
  EXPECT_EQ(LzssEncodeBlockOptimal(block.data(), 2048, out.data(), nullptr, 0xC4, nullptr),
            ERR_BADPARAMS);
}

}  // namespace
