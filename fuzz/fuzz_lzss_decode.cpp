// Input: a method selector, a capacity, then one coded block. The block is decoded from a buffer
// of exactly its length (so any read past it is caught), then coded with the same method and
// decoded again, which must give the bytes back.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (size < 3 || size > 70000) return 0;
  const u8 method = MethodFrom(data[0]);
  const u32 capacity = static_cast<u32>(data[1]) << 8 | data[2];
  const u32 length = static_cast<u32>(size - 3);

  std::unique_ptr<u8[]> block(new u8[length ? length : 1]);
  if (length) std::memcpy(block.get(), data + 3, length);
  std::unique_ptr<u8[]> out(new u8[capacity ? capacity : 1]);
  u32 produced = 0xFFFFFFFF;
  ErrorCode error = LzssDecodeBlock(block.get(), length, out.get(), capacity, &produced, method);
  Check(LzssMethodValid(method) ? (!error && produced <= capacity) || error == ERR_INVALIDFORMAT
                                : error == ERR_NOSUCHBITLENGTHS && produced == 0xFFFFFFFF);

  if (!LzssMethodValid(method)) return 0;
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
