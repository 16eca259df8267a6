// The block decoder has a fast loop (whole-word writes past each token, a bit buffer) and a plain
// loop for block ends and unusual layouts. These tests hold both to a bit-at-a-time decoder on
// streams made to reach every path: long blocks, skips over a prefilled destination, overlapping
// copies, tight capacities, copies from before the block, in-place decoding, garbage.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "archive/lzss_codec.h"

namespace {

typedef std::vector<u8> Bytes;

const u8 kAllMethods[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                          0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};

struct Outcome {
  bool ok = false;
  u32 produced = 0;
  Bytes buffer;  // the whole destination afterwards, bytes past the output included
};

// Bit-at-a-time decoding with the format's stop rule; bits past the end read as zeros.
Outcome PlainDecode(const Bytes& coded, u8 method, u32 capacity, const Bytes& initial) {
  const u32 offsetBits = method >> 4, lengthBits = method & 15, window = 1u << offsetBits;
  Outcome result;
  result.buffer = initial;
  u64 bit = 0;
  auto take = [&](u32 count) {
    u32 value = 0;
    for (u32 i = 0; i < count; ++i, ++bit) {
      const u64 index = bit / 8;
      const u32 b = index < coded.size() ? (coded[index] >> (7 - bit % 8)) & 1 : 0;
      value = value << 1 | b;
    }
    return value;
  };
  u32 out = 0;
  do {
    if (take(1)) {
      if (out >= capacity) return result;
      result.buffer[out++] = static_cast<u8>(take(8));
    } else {
      const u32 code = take(offsetBits);
      const u32 length = take(lengthBits) + 2;
      if (length > capacity - out) return result;
      if (code != 0) {
        if (window - code > out) return result;
        for (u32 i = 0; i < length; ++i)
          result.buffer[out + i] = result.buffer[out + i - (window - code)];
      }
      out += length;
    }
  } while (bit / 8 < coded.size() - 1);
  result.ok = true;
  result.produced = out;
  return result;
}

Outcome FastDecode(const Bytes& coded, u8 method, u32 capacity, const Bytes& initial) {
  Outcome result;
  result.buffer = initial;
  ErrorCode error = LzssDecodeBlock(coded.data(), static_cast<u32>(coded.size()),
                                    result.buffer.data(), capacity, &result.produced, method);
  EXPECT_TRUE(error == nullptr || error == ERR_INVALIDFORMAT) << ErrorText(error);
  result.ok = error == nullptr;
  if (!result.ok) result.produced = 0;
  return result;
}

class TokenStream {
 public:
  explicit TokenStream(u8 method) : offsetBits_(method >> 4), lengthBits_(method & 15) {}
  void Literal(u8 byte) { Put(1, 1), Put(byte, 8); }
  void Match(u32 code, u32 n) { Put(0, 1), Put(code, offsetBits_), Put(n, lengthBits_); }
  Bytes bytes;

 private:
  void Put(u32 value, u32 count) {
    for (u32 i = count; i-- > 0; ++bit_) {
      if (bit_ % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<u8>(0x80 >> (bit_ % 8));
    }
  }
  u32 offsetBits_, lengthBits_;
  u64 bit_ = 0;
};

// A stream of about `tokens` random tokens: literals, matches at every distance class (below 8
// they overlap their own output), skips, and now and then a copy from before the block.
Bytes RandomStream(std::mt19937& random, u8 method, u32 tokens, bool allowInvalid) {
  const u32 window = 1u << (method >> 4), longest = (1u << (method & 15)) + 1;
  TokenStream stream(method);
  stream.Literal(static_cast<u8>(random()));
  u32 out = 1;
  for (u32 i = 1; i < tokens; ++i) {
    const u32 kind = random() % 100;
    const u32 length = 2 + random() % (longest - 1);
    if (kind < 45) {
      stream.Literal(static_cast<u8>(random() % 4 == 0 ? 0 : random()));
      out += 1;
      continue;
    }
    u32 distance;
    if (kind < 60) {
      distance = 1 + random() % 8;
    } else if (kind < 63) {
      stream.Match(0, length - 2);  // a skip
      out += length;
      continue;
    } else if (kind < 64 && allowInvalid) {
      distance = out + 1 + random() % 4;
    } else {
      distance = 1 + random() % (window - 1);
    }
    if (distance >= window) distance = window - 1;
    if (distance > out && !(kind == 63 && allowInvalid)) distance = out;
    stream.Match(window - distance, length - 2);
    out += length;
  }
  return stream.bytes;
}

Bytes Prefilled(std::mt19937& random, u32 size) {
  Bytes bytes(size);
  for (u8& b : bytes) b = static_cast<u8>(random());
  return bytes;
}

void ExpectSame(const Outcome& fast, const Outcome& plain, const char* what, u8 method, u32 round) {
  ASSERT_EQ(fast.ok, plain.ok) << what << " method " << std::hex << int(method) << std::dec
                               << " round " << round;
  ASSERT_EQ(fast.produced, plain.produced) << what << " round " << round;
  // The whole buffer: skipped bytes and the bytes past the output keep what they held.
  ASSERT_EQ(fast.buffer, plain.buffer)
      << what << " method " << std::hex << int(method) << std::dec << " round " << round;
}

TEST(LzssDecodePaths, ValidStreamsDecodeExactlyLikeThePlainDecoder) {
  std::mt19937 random(61);
  for (u8 method : kAllMethods) {
    for (u32 round = 0; round < 12; ++round) {
      const Bytes coded = RandomStream(random, method, 200 + random() % 3000, false);
      const Outcome plain = PlainDecode(coded, method, 0x10000, Prefilled(random, 0x10000));
      ASSERT_TRUE(plain.ok);
      const Bytes initial = Prefilled(random, 0x10000);
      ExpectSame(FastDecode(coded, method, 0x10000, initial),
                 PlainDecode(coded, method, 0x10000, initial), "roomy", method, round);
      // Capacities at, just below and just above the output: the write limit of the fast loop.
      for (u32 capacity : {plain.produced, plain.produced - 1, plain.produced + 5}) {
        const Bytes tight = Prefilled(random, plain.produced + 64);
        ExpectSame(FastDecode(coded, method, capacity, tight),
                   PlainDecode(coded, method, capacity, tight), "tight", method, round);
      }
    }
  }
}

TEST(LzssDecodePaths, FailuresLeaveTheSameBytesAsThePlainDecoder) {
  // Copies from before the block, anywhere in a long stream: the decoder stops with the same
  // output written and nothing else changed.
  std::mt19937 random(62);
  u32 failures = 0;
  for (u8 method : kAllMethods) {
    for (u32 round = 0; round < 10; ++round) {
      const Bytes coded = RandomStream(random, method, 300 + random() % 1500, true);
      const Bytes initial = Prefilled(random, 0x8000);
      const Outcome plain = PlainDecode(coded, method, 0x8000, initial);
      failures += !plain.ok;
      ExpectSame(FastDecode(coded, method, 0x8000, initial), plain, "invalid", method, round);
    }
  }
  EXPECT_GT(failures, 20u);  // the streams do reach the failure path
}

TEST(LzssDecodePaths, InPlaceDecodingMatchesSeparateBuffers) {
  // The container reader's layout: coded bytes at the back of a buffer of size + size / 8 + 2,
  // output from the front. The streams here grow their output as fast as the format allows.
  std::mt19937 random(63);
  for (u8 method : kAllMethods) {
    for (u32 round = 0; round < 4; ++round) {
      const u32 size = 0x8000;
      TokenStream stream(method);
      u32 out = 0;
      while (out + 40 < size) {
        if (out < 16 || random() % 3 != 0) {
          stream.Literal(static_cast<u8>(random()));
          out += 1;
        } else {
          const u32 window = 1u << (method >> 4);
          const u32 distance = 1 + random() % (out < window - 1 ? out : window - 1);
          const u32 n = random() % 2;
          stream.Match(window - distance, n);
          out += n + 2;
        }
      }
      const Bytes& coded = stream.bytes;
      const u32 bufferSize = size + size / 8 + 2;
      ASSERT_LT(coded.size(), bufferSize);
      Bytes buffer = Prefilled(random, bufferSize);
      std::memcpy(&buffer[bufferSize - coded.size()], coded.data(), coded.size());
      const Outcome plain = PlainDecode(coded, method, size, Bytes(size, 0));
      ASSERT_TRUE(plain.ok);
      u32 produced = 0;
      ASSERT_EQ(LzssDecodeBlock(&buffer[bufferSize - coded.size()], static_cast<u32>(coded.size()),
                                buffer.data(), size, &produced, method),
                nullptr);
      ASSERT_EQ(produced, plain.produced);
      ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + produced, plain.buffer.begin()))
          << std::hex << int(method);
    }
  }
}

TEST(LzssDecodePaths, GarbageDecodesLikeThePlainDecoder) {
  std::mt19937 random(64);
  for (u8 method : kAllMethods) {
    for (u32 round = 0; round < 40; ++round) {
      // A valid start long enough to reach the fast loop, then random bytes.
      Bytes coded = RandomStream(random, method, 40, false);
      const Bytes tail = Prefilled(random, 1 + random() % 600);
      coded.insert(coded.end(), tail.begin(), tail.end());
      const Bytes initial = Prefilled(random, 4096);
      ExpectSame(FastDecode(coded, method, 4096, initial),
                 PlainDecode(coded, method, 4096, initial), "garbage", method, round);
    }
  }
}

}  // namespace
