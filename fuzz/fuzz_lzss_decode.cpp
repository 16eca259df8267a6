// Input: a method selector, a capacity, then one coded block. The block is decoded from a buffer
// of exactly its length (so any read past it is caught) into a prefilled buffer, which must then
// hold exactly what a bit-at-a-time decoder leaves, success or failure alike; then the block is
// coded with the same method and decoded again, which must give the bytes back.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/lzss_codec.h"

namespace {

u8 MethodFrom(u8 selector) {
  static const u8 kMethods[] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB1, 0xB2, 0xB3,
                                0xB4, 0xB5, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5};
  // Mostly valid methods; the top selectors pass through as they are, invalid ones included.
  return selector >= 240 ? selector : kMethods[selector % 15];
}

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr u8 kFill = 0xA5;

// One token at a time, one bit at a time, bits past the end reading as zeros; false on a token
// that would write past the capacity or copy from before the block (output so far kept).
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
  *produced = at;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (size < 3 || size > 70000) return 0;
  const u8 method = MethodFrom(data[0]);
  const u32 capacity = static_cast<u32>(data[1]) << 8 | data[2];
  const u32 length = static_cast<u32>(size - 3);

  std::unique_ptr<u8[]> block(new u8[length ? length : 1]);
  if (length) std::memcpy(block.get(), data + 3, length);
  std::unique_ptr<u8[]> out(new u8[capacity ? capacity : 1]);
  std::memset(out.get(), kFill, capacity);
  u32 produced = 0xFFFFFFFF;
  ErrorCode error = LzssDecodeBlock(block.get(), length, out.get(), capacity, &produced, method);
  Check(LzssMethodValid(method) ? (!error && produced <= capacity) || error == ERR_INVALIDFORMAT
                                : error == ERR_NOSUCHBITLENGTHS && produced == 0xFFFFFFFF);

  if (!LzssMethodValid(method)) return 0;
  if (length > 0) {
    std::unique_ptr<u8[]> expected(new u8[capacity ? capacity : 1]);
    std::memset(expected.get(), kFill, capacity);
    u32 expectedProduced = 0;
    const bool ok =
        ReferenceDecode(block.get(), length, method, expected.get(), capacity, &expectedProduced);
    Check(ok == !error && (!ok || produced == expectedProduced));
    Check(std::memcmp(out.get(), expected.get(), capacity) == 0);
  }
  u32 codedLength = length + length / 8 + 2;
  std::unique_ptr<u8[]> coded(new u8[codedLength]);
  Check(!LzssEncodeBlock(block.get(), length, coded.get(), &codedLength, method, nullptr));
  std::unique_ptr<u8[]> exact(new u8[codedLength ? codedLength : 1]);
  if (codedLength) std::memcpy(exact.get(), coded.get(), codedLength);
  std::unique_ptr<u8[]> back(new u8[length ? length : 1]);
  Check(!LzssDecodeBlock(exact.get(), codedLength, back.get(), length, &produced, method));
  Check(produced == length && std::memcmp(back.get(), block.get(), length) == 0);
  return 0;
}
