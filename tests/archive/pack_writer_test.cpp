#include "archive/pack_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/memory_file.h"
#include "support/pack_builder.h"

namespace {

ErrorCode BeginWith(CPackWriter* writer, std::vector<const char*> names) {
  std::vector<u32> sizes(names.size(), 1);
  return writer->Begin(static_cast<u32>(names.size()), names.data(), sizes.data());
}

}  // namespace

// The layout itself is held to the reference writer of tests/reference by the tool's tests.
TEST(PackWriter, RefusesNamesThatCannotBeStoredOrFound) {
  std::string tooLong(256, 'L');
  const std::vector<std::vector<const char*>> refused = {
      {""},
      {tooLong.c_str()},
      {"\\A"},
      {"A\\"},
      {"A\\\\B"},
      {"A\\.\\B"},
      {"..\\B"},
      {"A\\.."},
      {"B", "A"},           // out of order
      {"A", "a"},           // the same name once upper-cased
      {"A", "A!", "A\\B"},  // a member that is also a directory
      {"A\\B", "A\\B\\C"},
  };
  for (const auto& names : refused) {
    MemoryFile out;
    CPackWriter writer(&out);
    EXPECT_EQ(BeginWith(&writer, names), ERR_BADPARAMS) << names.back();
    EXPECT_STRNE(writer.Problem(), "");
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(writer.Write("x", 1), ERR_BADPARAMS);
  }
  std::string longest(255, 'L');
  MemoryFile out;
  CPackWriter writer(&out);
  EXPECT_EQ(BeginWith(&writer, {"...", "A.B\\..C", longest.c_str()}), nullptr) << writer.Problem();
}

// Pieces of any size give the same pack as one write; what it stores is read back by every pack
// test (BuildPack uses the writer).
TEST(PackWriter, StreamsDataInAnyPiecesAndChecksTheTotal) {
  std::vector<const char*> names = {"A", "B", "C", "D"};
  std::vector<u32> sizes = {5, 0, 7, 0};
  const char data[] = "helloseven77";
  MemoryFile whole, pieces;
  CPackWriter a(&whole), b(&pieces);
  ASSERT_EQ(a.Begin(4, names.data(), sizes.data()), nullptr);
  ASSERT_EQ(b.Begin(4, names.data(), sizes.data()), nullptr);
  EXPECT_EQ(a.Finish(), ERR_BADPARAMS);  // nothing written yet
  ASSERT_EQ(a.Write(data, 12), nullptr);
  for (int i = 0; i < 12; i += 3) ASSERT_EQ(b.Write(data + i, 3), nullptr);
  EXPECT_EQ(a.Write("!", 1), ERR_OUTOFRANGE);
  EXPECT_EQ(a.Finish(), nullptr);
  EXPECT_EQ(b.Finish(), nullptr);
  EXPECT_EQ(whole.bytes, pieces.bytes);
  EXPECT_EQ(whole.bytes.size(), a.PackSize());
}

TEST(PackWriter, RefusesPacksOf4GiBOrMoreAndPassesOutputFailuresOn) {
  std::vector<const char*> names = {"BIG1", "BIG2"};
  std::vector<u32> sizes = {0x80000000u, 0x7FFFFFF0u};
  MemoryFile out;
  CPackWriter writer(&out);
  EXPECT_EQ(writer.Begin(2, names.data(), sizes.data()), ERR_OUTOFRANGE);
  EXPECT_NE(std::strstr(writer.Problem(), "4 GiB"), nullptr);
  sizes[1] = 0x7FFFFF00u;  // fits: header, directory and table take well under 0xFF bytes
  EXPECT_EQ(writer.Begin(2, names.data(), sizes.data()), nullptr) << writer.Problem();
  MemoryFile failing;
  failing.failWriteFrom = 1;
  failing.failError = ERR_DISKFULL;
  CPackWriter refused(&failing);
  EXPECT_EQ(BeginWith(&refused, {"A"}), ERR_DISKFULL);
  failing.failWriteFrom = 0;
  ASSERT_EQ(BeginWith(&refused, {"A"}), nullptr);
  failing.failWriteFrom = failing.writes + 1;
  EXPECT_EQ(refused.Write("x", 1), ERR_DISKFULL);
}
