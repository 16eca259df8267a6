#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/tarn_decode.h"
#include "archive/tarn_encode.h"
#include "core/pools.h"
#include "support/lzss_samples.h"
#include "support/memory_file.h"
#include "support/tarn_reference.h"

namespace {

std::vector<u8> Encode(const std::vector<u8>& dictionary, const std::vector<u8>& input,
                       const TarnEncodeOptions& options) {
  std::vector<u8> all(dictionary);
  all.insert(all.end(), input.begin(), input.end());
  u8* coded = nullptr;
  u32 size = 0;
  ErrorCode error = TarnEncode(all.data(), static_cast<u32>(dictionary.size()),
                               static_cast<u32>(input.size()), options, &coded, &size);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  std::vector<u8> stream(coded, coded + size);
  g_ptrPool->Free(coded);
  return stream;
}

// Through files, with the stream behind three unrelated bytes. Decoding in memory is held to the
// file decoder and to the reference over the replayed fuzz_tarn_decode corpus.
ErrorCode DecodeFiles(const std::vector<u8>& stream, const std::vector<u8>& dictionary,
                      std::vector<u8>* output, u32 failWriteFrom = 0) {
  std::vector<u8> container = {1, 2, 3};
  container.insert(container.end(), stream.begin(), stream.end());
  MemoryFile input(container), old(dictionary), out;
  out.failWriteFrom = failWriteFrom;
  out.failError = ERR_DISKFULL;
  ErrorCode error = TarnDecodeFile(&input, 3, static_cast<u32>(stream.size()),
                                   dictionary.empty() ? nullptr : &old, &out);
  *output = out.bytes;
  return error;
}

// Edits at scattered places: bytes replaced, runs inserted and removed.
std::vector<u8> Edited(std::vector<u8> bytes, u32 seed) {
  std::vector<u8> noise = RandomBytes(64, seed);
  for (size_t at = 1000; at + 100 < bytes.size(); at += 7919) {
    bytes[at] ^= 0x5A;
    if (at % 3 == 0) bytes.insert(bytes.begin() + at, noise.begin(), noise.begin() + 13);
    if (at % 3 == 1) bytes.erase(bytes.begin() + at, bytes.begin() + at + 29);
  }
  return bytes;
}

// x86-like code: call instructions to a few targets among random bytes.
std::vector<u8> Code(u32 size) {
  std::vector<u8> code = RandomBytes(size, 9);
  for (u32 at = 0; at + 5 <= size; at += 13) {
    const u32 target = 0x4000 + (at % 5) * 0x1000 - at - 5;
    code[at] = at % 2 ? 0xE8 : 0xE9;
    std::memcpy(&code[at + 1], &target, 4);
  }
  code[size - 3] = 0xE8;  // an operand cut off by the end
  return code;
}

struct Case {
  std::string name;
  std::vector<u8> dictionary;
  std::vector<u8> input;
  TarnEncodeOptions options;
  u32 maxCoded;  // 0: no bound
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  TarnEncodeOptions plain;
  for (SampleBlock& s : SampleBlocks(70000))
    cases.push_back({s.name, {}, s.bytes, plain, s.name == "zeros" ? 200u : 0u});
  const std::vector<u8> text = SampleBlocks(60000)[0].bytes;
  TarnEncodeOptions small = plain;
  small.windowLog = 12;  // repeats 20 KB back lie outside the window; the trees' links wrap
  small.literalContextBits = 0;
  small.literalPositionBits = 2;
  small.positionBits = 0;
  small.niceLength = 16;
  small.depth = 4;
  std::vector<u8> far = RandomBytes(20000, 5);
  far.insert(far.end(), far.begin(), far.end());
  cases.push_back({"far repeats, 4 KiB window", {}, far, small, 0});
  small.binaryTree = false;
  cases.push_back({"far repeats, 4 KiB window, chains", {}, far, small, 0});
  cases.push_back({"empty", {}, {}, plain, 64});
  cases.push_back({"one byte", {}, {7}, plain, 64});
  TarnEncodeOptions x86 = plain;
  x86.x86 = true;
  cases.push_back({"x86 filter", {}, Code(50000), x86, 0});
  TarnEncodeOptions delta = plain;
  delta.differences = true;
  cases.push_back({"edited copy of the dictionary", text, Edited(text, 1), delta, 3000});
  TarnEncodeOptions shallow = delta;
  shallow.depth = 1;  // the chains miss the edited text's source: its anchors find it
  cases.push_back({"edited copy, one chain link", text, Edited(text, 1), shallow, 400});
  TarnEncodeOptions split = delta;
  split.chainPositions = 8192;  // 4 KiB of the dictionary moves along with the input
  std::vector<u8> pieces;       // 24 bytes each, too short for the anchors, 8 at a time reversed
  for (size_t at = 0; at + 192 <= text.size(); at += 192)
    for (size_t k = 8; k-- > 0;)
      pieces.insert(pieces.end(), text.begin() + at + 24 * k, text.begin() + at + 24 * k + 24);
  cases.push_back({"pieces of the dictionary, split chains", text, pieces, split, 4000});
  cases.push_back({"dictionary larger than the window", RandomBytes(30000, 8),
                   Edited(RandomBytes(30000, 8), 2), small, 4000});
  cases.push_back({"unrelated dictionary", RandomBytes(5000, 4), text, delta, 0});
  return cases;
}

TEST(TarnCodec, RoundTripsAgreeWithTheReference) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::vector<u8> stream = Encode(c.dictionary, c.input, c.options);
    EXPECT_LE(stream.size(), c.maxCoded ? c.maxCoded : stream.size());
    std::vector<u8> files, reference;
    EXPECT_EQ(DecodeFiles(stream, c.dictionary, &files), nullptr);
    ASSERT_TRUE(TarnReferenceDecode(stream, c.dictionary, &reference));
    EXPECT_EQ(files, c.input);
    EXPECT_EQ(reference, c.input);
  }
}

// A dictionary of another file is the replayed decode corpus's business (its seeds are damaged
// in the dictionary too); a failing output is reported.
TEST(TarnCodec, FailingOutputIsReported) {
  TarnEncodeOptions small;
  small.windowLog = 16;  // the output leaves in several writes
  std::vector<u8> output;
  EXPECT_EQ(DecodeFiles(Encode({}, RandomBytes(200000, 6), small), {}, &output, 2), ERR_DISKFULL);
}

}  // namespace
