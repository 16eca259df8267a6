// Input: a method selector, a capacity, then one coded block. The block is decoded from a buffer
// of exactly its length (so any read past it is caught) into a prefilled buffer, which must then
// hold exactly what a bit-at-a-time decoder leaves, success or failure alike; then the block is
// coded with the same method and decoded again, which must give the bytes back.
#include <cstring>
#include <memory>
#include <vector>

#include "archive/lzss_codec.h"
#include "capped_file.h"
#include "support/lzss_samples.h"

namespace {

u8 MethodFrom(u8 selector) {
  // Mostly valid methods; the top selectors pass through as they are, invalid ones included.
  static const std::vector<u8> methods = AllMethods();
  return selector >= 240 ? selector : methods[selector % methods.size()];
}

constexpr u8 kFill = 0xA5;

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
