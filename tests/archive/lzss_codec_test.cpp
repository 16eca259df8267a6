#include "archive/lzss_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/lzss_samples.h"

namespace {

std::vector<u8> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<u8> Encode(const std::vector<u8>& block, u8 method, const u8* reference = nullptr) {
  std::vector<u8> coded(block.size() + block.size() / 8 + 2);
  u32 length = static_cast<u32>(coded.size());
  ErrorCode error = LzssEncodeBlock(block.data(), static_cast<u32>(block.size()), coded.data(),
                                    &length, method, reference);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  coded.resize(error ? 0 : length);
  return coded;
}

// Decodes from a heap copy of exactly the coded length, so that a read past it is caught by the
// address sanitizer.
ErrorCode Decode(const std::vector<u8>& coded, u8 method, u32 capacity, std::vector<u8>* output,
                 u8 fill = 0) {
  std::unique_ptr<u8[]> source(new u8[coded.size() ? coded.size() : 1]);
  if (!coded.empty()) std::memcpy(source.get(), coded.data(), coded.size());
  std::unique_ptr<u8[]> destination(new u8[capacity ? capacity : 1]);
  std::memset(destination.get(), fill, capacity);
  u32 produced = 0xDEADBEEF;
  ErrorCode error = LzssDecodeBlock(source.get(), static_cast<u32>(coded.size()), destination.get(),
                                    capacity, &produced, method);
  if (!error) output->assign(destination.get(), destination.get() + produced);
  return error;
}

// Builds a coded stream token by token, most significant bit first.
class TokenWriter {
 public:
  explicit TokenWriter(u8 method) : offsetBits(method >> 4), lengthBits(method & 15) {}
  TokenWriter& Literal(u8 byte) { return Put(1, 1).Put(byte, 8); }
  TokenWriter& Match(u32 code, u32 n) { return Put(0, 1).Put(code, offsetBits).Put(n, lengthBits); }
  std::vector<u8> Finish() const { return bytes; }

 private:
  TokenWriter& Put(u32 value, unsigned count) {
    for (unsigned i = count; i-- > 0; ++bit) {
      if (bit % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<u8>(0x80 >> (bit % 8));
    }
    return *this;
  }
  unsigned offsetBits, lengthBits;
  std::vector<u8> bytes;
  size_t bit = 0;
};

}  // namespace

TEST(LzssCodec, KnownVectorsEncodeAndDecode) {
  const std::vector<u8> abc = Bytes("abcabcabc");
  const std::vector<u8> abcCoded = {0xB0, 0xD8, 0xAC, 0x6F, 0xFD, 0x40};
  EXPECT_EQ(Encode(abc, 0xC4), abcCoded);
  std::vector<u8> out;
  ASSERT_EQ(Decode(abcCoded, 0xC4, 32768, &out), nullptr);
  EXPECT_EQ(out, abc);

  const std::vector<u8> aaa = Bytes("aaa");
  const std::vector<u8> aaaCoded = {0xB0, 0xBF, 0xF0};
  EXPECT_EQ(Encode(aaa, 0xA1), aaaCoded);
  ASSERT_EQ(Decode(aaaCoded, 0xA1, 3, &out), nullptr);
  EXPECT_EQ(out, aaa);
}

TEST(LzssCodec, MatchOfDistanceOneRepeatsTheLastByte) {
  // With 0xC4 a literal is 9 bits and a match 17: O = 4095, n = 15 copies 17 bytes.
  std::vector<u8> coded = TokenWriter(0xC4).Literal('x').Match(4095, 15).Finish();
  ASSERT_EQ(coded.size(), 4u);
  std::vector<u8> out;
  ASSERT_EQ(Decode(coded, 0xC4, 100, &out), nullptr);
  EXPECT_EQ(out, std::vector<u8>(18, 'x'));
}

TEST(LzssCodec, RoundTripEveryMethodOverSampleData) {
  for (u32 size : {1u, 2u, 3u, 17u, 100u, 4099u, 32768u}) {
    for (const SampleBlock& sample : SampleBlocks(size)) {
      for (u8 method : AllMethods()) {
        SCOPED_TRACE(sample.name + " size " + std::to_string(size) + " method " +
                     std::to_string(method));
        std::vector<u8> coded = Encode(sample.bytes, method);
        ASSERT_FALSE(coded.empty());
        EXPECT_TRUE(coded[0] & 0x80) << "the first token must be a literal";
        std::vector<u8> out;
        ASSERT_EQ(Decode(coded, method, size, &out), nullptr);
        EXPECT_EQ(out, sample.bytes);
        std::vector<u8> reference;
        ASSERT_TRUE(ReferenceDecode(coded, method, size, &reference));
        EXPECT_EQ(reference, sample.bytes);
      }
    }
  }
}

TEST(LzssCodec, CoderCompressesRedundantData) {
  // A coder that fell back to literals would still round-trip; the sizes show it matches.
  for (const SampleBlock& sample : SampleBlocks(32768)) {
    if (sample.name == "random") continue;
    for (u8 method : AllMethods()) {
      // Zeros: one longest match per 2^L + 1 bytes; the others: well under the raw size.
      u32 tokenBits = 1 + (method >> 4) + (method & 15);
      u32 bound = sample.name == "zeros" ? (32768 / ((1u << (method & 15)) + 1) + 4) * tokenBits / 8
                                         : 32768 * 3 / 4;
      EXPECT_LT(Encode(sample.bytes, method).size(), bound) << sample.name << " " << int(method);
    }
  }
}

TEST(LzssCodec, InPlaceDecodingFromTheBackOfTheWorkBuffer) {
  // A block decoded inside one buffer of size + size/8 + 2 bytes, coded bytes at its back.
  const u32 blockSize = 32768, bufferSize = blockSize + blockSize / 8 + 2;
  for (const SampleBlock& sample : SampleBlocks(blockSize)) {
    for (u8 method : AllMethods()) {
      std::vector<u8> coded = Encode(sample.bytes, method);
      if (coded.size() >= blockSize) continue;  // such a block is stored raw
      std::vector<u8> buffer(bufferSize);
      u8* back = buffer.data() + bufferSize - coded.size();
      std::memcpy(back, coded.data(), coded.size());
      u32 produced = 0;
      ASSERT_EQ(LzssDecodeBlock(back, static_cast<u32>(coded.size()), buffer.data(), blockSize,
                                &produced, method),
                nullptr);
      ASSERT_EQ(produced, blockSize);
      EXPECT_TRUE(std::equal(sample.bytes.begin(), sample.bytes.end(), buffer.begin()))
          << sample.name << " " << int(method);
    }
  }
}

TEST(LzssCodec, SkipsLeaveTheOutputAndReferenceRunsBecomeSkips) {
  std::vector<u8> coded = TokenWriter(0xB3).Literal('q').Match(0, 3).Literal('z').Finish();
  std::vector<u8> out;
  ASSERT_EQ(Decode(coded, 0xB3, 64, &out, 0xEE), nullptr);
  EXPECT_EQ(out, (std::vector<u8>{'q', 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 'z'}));

  // Against a reference, equal runs are coded as skips: decoding over the reference rebuilds
  // the block, decoding over zeros does not.
  std::vector<u8> reference = RandomBytes(5000, 11);
  std::vector<u8> block = reference;
  for (u32 i = 0; i < block.size(); i += 97) block[i] ^= 0x5A;
  for (u8 method : AllMethods()) {
    coded = Encode(block, method, reference.data());
    EXPECT_LT(coded.size(), block.size() * 2 / 3) << int(method);
    std::vector<u8> rebuilt;
    ASSERT_TRUE(ReferenceDecode(coded, method, 5000, &rebuilt, reference));
    EXPECT_EQ(rebuilt, block);
    ASSERT_TRUE(ReferenceDecode(coded, method, 5000, &rebuilt));
    EXPECT_NE(rebuilt, block);
  }
}

TEST(LzssCodec, InvalidMethodsAreRefused) {
  u32 valid = 0;
  for (u32 m = 0; m < 256; ++m) valid += LzssMethodValid(static_cast<u8>(m));
  EXPECT_EQ(valid, 15u);
  EXPECT_FALSE(LzssMethodValid(0xC6));
  EXPECT_FALSE(LzssMethodValid(0xD1));
  EXPECT_FALSE(LzssMethodValid(0x91));
  EXPECT_FALSE(LzssMethodValid(0xA0));

  const u8 coded[] = {0xB0, 0xBF, 0xF0};
  u8 out[8];
  u32 produced = 77;
  EXPECT_EQ(LzssDecodeBlock(coded, 3, out, 8, &produced, 0xC6), ERR_NOSUCHBITLENGTHS);
  EXPECT_EQ(produced, 77u);
  u32 capacity = 8;
  EXPECT_EQ(LzssEncodeBlock(coded, 3, out, &capacity, 0x94, nullptr), ERR_NOSUCHBITLENGTHS);
  EXPECT_EQ(capacity, 8u);
}

TEST(LzssCodec, EmptyBlocks) {
  u8 out[4];
  u32 produced = 9;
  EXPECT_EQ(LzssDecodeBlock(nullptr, 0, out, 4, &produced, 0xC4), nullptr);
  EXPECT_EQ(produced, 0u);
  u32 capacity = 4;
  EXPECT_EQ(LzssEncodeBlock(out, 0, out, &capacity, 0xC4, nullptr), nullptr);
  EXPECT_EQ(capacity, 0u);
}

TEST(LzssCodec, MalformedBlockCopyingFromBeforeTheBlockIsInvalid) {
  // First token a match: there is no history to copy from.
  std::vector<u8> out;
  EXPECT_EQ(Decode(TokenWriter(0xC4).Match(4095, 0).Literal('a').Finish(), 0xC4, 64, &out),
            ERR_INVALIDFORMAT);
  // Distance 3 after two bytes.
  EXPECT_EQ(Decode(TokenWriter(0xA2).Literal('a').Literal('b').Match(1021, 1).Literal('c').Finish(),
                   0xA2, 64, &out),
            ERR_INVALIDFORMAT);
  // Distance 2 after two bytes is fine.
  ASSERT_EQ(Decode(TokenWriter(0xA2).Literal('a').Literal('b').Match(1022, 1).Literal('c').Finish(),
                   0xA2, 64, &out),
            nullptr);
  EXPECT_EQ(out, Bytes("ababac"));
}

TEST(LzssCodec, MalformedBlockProducingTooMuchOutputIsInvalid) {
  // Every token kind at the capacity's edge: the bytes past it stay untouched.
  struct Case {
    std::vector<u8> coded;
    u32 fits;  // the smallest capacity that holds the output
  };
  const Case cases[] = {
      {TokenWriter(0xC4).Literal('a').Literal('b').Literal('c').Literal('d').Finish(), 4},
      {TokenWriter(0xC4).Literal('a').Match(4095, 15).Literal('e').Finish(), 19},
      {TokenWriter(0xC4).Literal('a').Match(0, 15).Literal('e').Finish(), 19},
  };
  for (const Case& c : cases) {
    std::vector<u8> buffer(c.fits + 8, 0xCC);
    u32 produced = 0;
    EXPECT_EQ(LzssDecodeBlock(c.coded.data(), static_cast<u32>(c.coded.size()), buffer.data(),
                              c.fits - 1, &produced, 0xC4),
              ERR_INVALIDFORMAT);
    for (u32 i = c.fits - 1; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xCC) << i;
    EXPECT_EQ(LzssDecodeBlock(c.coded.data(), static_cast<u32>(c.coded.size()), buffer.data(),
                              c.fits, &produced, 0xC4),
              nullptr);
    EXPECT_EQ(produced, c.fits);
  }
}

TEST(LzssCodec, ArbitraryBytesDecodeLikeTheReferenceWithoutReadingPastTheEnd) {
  // Garbage and every prefix of a real block: the decoder and the plain reference agree on
  // success, output and failure; the exact-size source buffers let the sanitizer catch a read
  // past the end.
  std::vector<std::vector<u8>> inputs;
  for (u32 seed = 1; seed <= 300; ++seed) inputs.push_back(RandomBytes(1 + seed % 40, seed));
  std::vector<u8> coded = Encode(SampleBlocks(600)[0].bytes, 0xB5);
  for (size_t n = 1; n <= coded.size(); ++n) inputs.emplace_back(coded.begin(), coded.begin() + n);
  for (u8 method : AllMethods()) {
    for (const std::vector<u8>& input : inputs) {
      std::vector<u8> out, expected;
      bool referenceOk = ReferenceDecode(input, method, 600, &expected);
      ErrorCode error = Decode(input, method, 600, &out);
      ASSERT_EQ(error == nullptr, referenceOk) << ErrorText(error);
      if (referenceOk)
        ASSERT_EQ(out, expected);
      else
        ASSERT_EQ(error, ERR_INVALIDFORMAT);
    }
  }
}

TEST(LzssCodec, CoderReportsBufferTooSmallAndKeepsTheCapacity) {
  std::vector<u8> block = RandomBytes(3000, 5);
  std::vector<u8> coded = Encode(block, 0xC4);
  std::vector<u8> destination(coded.size(), 0xFF);
  u32 capacity = static_cast<u32>(coded.size()) - 1;
  EXPECT_EQ(LzssEncodeBlock(block.data(), 3000, destination.data(), &capacity, 0xC4, nullptr),
            ERR_BUFFERTOOSMALL);
  EXPECT_EQ(capacity, coded.size() - 1);
  capacity = static_cast<u32>(coded.size());
  ASSERT_EQ(LzssEncodeBlock(block.data(), 3000, destination.data(), &capacity, 0xC4, nullptr),
            nullptr);
  EXPECT_EQ(destination, coded);
  // The destination is cleared up to the capacity, the padding bits of the last byte included.
  std::vector<u8> wide(64, 0xFF);
  capacity = 64;
  ASSERT_EQ(LzssEncodeBlock(Bytes("aaa").data(), 3, wide.data(), &capacity, 0xA1, nullptr),
            nullptr);
  std::vector<u8> expected(64, 0);
  expected[0] = 0xB0, expected[1] = 0xBF, expected[2] = 0xF0;
  EXPECT_EQ(wide, expected);
}

// The coder is greedy: at every token the longest match that the window holds, over the usable
// length (bytes left, at most 2^L + 1), and a literal only when no match of two bytes exists.
// Blocks with few distinct byte pairs crowd many positions into the same search tree.
TEST(LzssCodec, CoderTakesTheLongestMatchTheWindowHoldsAtEveryToken) {
  std::vector<std::vector<u8>> blocks;
  std::vector<u8> pairs(12000), text(9000), mixed;
  for (size_t i = 0; i < pairs.size(); ++i) pairs[i] = "ab"[(i * 7 + i / 13 + i / 251) % 3 % 2];
  for (size_t i = 0; i < text.size(); ++i) text[i] = "etaoin shrdlu"[(i * i / 7 + i / 5) % 13];
  for (const SampleBlock& sample : SampleBlocks(4000)) {
    mixed.insert(mixed.end(), sample.bytes.begin(), sample.bytes.end());
  }
  blocks = {pairs, text, mixed};
  for (u8 method : {0xA1, 0xB3, 0xC4, 0xC5}) {
    const u32 offsetBits = method >> 4, lengthBits = method & 15;
    const u32 window = 1u << offsetBits, longest = (1u << lengthBits) + 1;
    for (const std::vector<u8>& block : blocks) {
      const std::vector<u8> coded = Encode(block, method);
      const u32 size = static_cast<u32>(block.size());
      u64 bit = 0;
      auto take = [&](u32 count) {
        u32 value = 0;
        for (u32 i = 0; i < count; ++i, ++bit)
          value = value << 1 | (coded[bit / 8] >> (7 - bit % 8) & 1);
        return value;
      };
      u32 p = 0;
      while (p < size) {
        const u32 limit = size - p < longest ? size - p : longest;
        u32 best = 0;
        for (u32 d = 1; d < window && d <= p; ++d) {
          u32 n = 0;
          while (n < limit && block[p + n] == block[p - d + n]) ++n;
          if (n > best) best = n;
        }
        if (take(1)) {
          ASSERT_EQ(take(8), block[p]);
          ASSERT_LT(p == 0 ? 0 : best, 2u) << "literal where a match was, at " << p;
          ++p;
        } else {
          const u32 distance = window - take(offsetBits), length = take(lengthBits) + 2;
          ASSERT_EQ(length, best) << "method " << std::hex << int(method) << std::dec << " at "
                                  << p;
          ASSERT_LT(distance, window);
          ASSERT_EQ(std::memcmp(&block[p], &block[p - distance], length), 0);
          p += length;
        }
      }
    }
  }
}
