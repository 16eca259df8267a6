// Input: a 16-bit little-endian dictionary length, that many dictionary bytes, then a Tarn
// stream. The stream is decoded in memory (from a buffer of exactly its length, into one of
// exactly the output size) and through files; both must accept exactly what the plain reference
// decoder accepts, and give its output.
#include <cstring>
#include <memory>
#include <vector>

#include "archive/tarn_decode.h"
#include "capped_file.h"
#include "support/tarn_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (size < 2 || size > 200000) return 0;
  const size_t dictionarySize = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  const std::vector<u8> dictionary(data + 2, data + 2 + dictionarySize);
  const std::vector<u8> stream(data + 2 + dictionarySize, data + size);
  TarnHeader header;
  if (TarnReadHeader(stream.data(), static_cast<u32>(stream.size()), &header) == nullptr &&
      header.outputSize > (1u << 20))
    return 0;

  std::vector<u8> expected;
  const bool valid = TarnReferenceDecode(stream, dictionary, &expected);

  std::unique_ptr<u8[]> exact(new u8[stream.size() + 1]);
  if (!stream.empty()) std::memcpy(exact.get(), stream.data(), stream.size());
  const u32 capacity = valid ? static_cast<u32>(expected.size()) : (1u << 20);
  std::unique_ptr<u8[]> output(new u8[capacity + 1]);
  const ErrorCode inMemory =
      TarnDecodeMemory(exact.get(), static_cast<u32>(stream.size()), dictionary.data(),
                       static_cast<u32>(dictionary.size()), output.get(), capacity);
  Check((inMemory == nullptr) == valid);
  if (valid && !expected.empty())
    Check(std::memcmp(output.get(), expected.data(), expected.size()) == 0);

  CappedFile input(stream.data(), stream.size());
  CappedFile old(dictionary.data(), dictionary.size());
  CappedFile out(nullptr, 0, 2u << 20);
  const ErrorCode inFiles = TarnDecodeFile(&input, 0, static_cast<u32>(stream.size()),
                                           dictionary.empty() ? nullptr : &old, &out);
  Check((inFiles == nullptr) == valid);
  if (valid) Check(out.bytes == expected);
  return 0;
}
