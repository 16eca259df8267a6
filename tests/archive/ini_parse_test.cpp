// Line syntax and the name hash of the INI reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/ini_table.h"
#include "core/pools.h"
#include "support/memory_file.h"

namespace {

struct Parsed {
  std::string name, value, comment;
  u32 more;
};

// Records every line that Load hands to ParseLine (Load parses every line of the input).
class LineReader : public CIniTable {
 public:
  explicit LineReader(const std::string& text)
      : CIniTable(20, 500, new CSizedPtrPool, 1), file(text) {}
  u32 ParseLine(char* line, char** name, char** value, char** comment) override {
    u32 more = CIniTable::ParseLine(line, name, value, comment);
    lines.push_back({*name, *value, *comment, more});
    return more;
  }
  std::vector<Parsed> All() {
    lines.clear();
    EXPECT_EQ(Load(&file), nullptr);
    return lines;
  }

  MemoryFile file;
  std::vector<Parsed> lines;
};

}  // namespace

TEST(HashIniName, FoldsCaseAndSignExtendsHighBytes) {
  EXPECT_EQ(HashIniName("ab"), 0x83838383u);
  EXPECT_EQ(HashIniName("AB"), 0x83838383u);
  EXPECT_EQ(HashIniName(""), 0u);
  EXPECT_EQ(HashIniName("a"), 0x41414141u);
  // 0xE9 widens to 0xFFFFFFE9: acc = 0xFFFFFFE9, then shifted out byte by byte.
  EXPECT_EQ(HashIniName("\xE9"), 0xFFFFFFE9u + 0xFFFFE900u + 0xFFE90000u + 0xE9000000u);
  // High bytes are never folded: 0xE9 and 0xC9 differ.
  EXPECT_NE(HashIniName("\xE9"), HashIniName("\xC9"));
}

TEST(IniParseLine, SplitsNameValueAndComment) {
  LineReader reader(
      "key = some value ; note\r\n"
      "k=a=b\n"
      "k=\n"
      "=x\n"
      "u=a;b\n"
      "\t  [Str]  ; header\n"
      "  lonely name  \n"
      "last=line");
  std::vector<Parsed> lines = reader.All();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0].name, "key");
  EXPECT_EQ(lines[0].value, "some value");
  EXPECT_EQ(lines[0].comment, " note");
  EXPECT_EQ(lines[1].value, "a=b");
  EXPECT_EQ(lines[2].name, "k");
  EXPECT_EQ(lines[2].value, "");
  EXPECT_EQ(lines[3].name, "");
  EXPECT_EQ(lines[3].value, "x");
  EXPECT_EQ(lines[4].value, "a");
  EXPECT_EQ(lines[4].comment, "b");
  EXPECT_EQ(lines[5].name, "[Str]");
  EXPECT_EQ(lines[5].comment, " header");
  EXPECT_EQ(lines[6].name, "lonely name");
  EXPECT_EQ(lines[6].value, "");
  EXPECT_EQ(lines[7].name, "last");
  EXPECT_EQ(lines[7].value, "line");
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].more, 1u) << i;
  EXPECT_EQ(lines[7].more, 0u);
}

TEST(IniParseLine, KeepsAtMost1023CharactersAndLosesThe1024th) {
  const std::string exact(1023, 'a');
  const std::string longer = std::string(1023, 'b') + "X" + "rest=1";
  LineReader reader(exact + "\n" + longer + "\n");
  std::vector<Parsed> lines = reader.All();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].name, exact);
  EXPECT_EQ(lines[1].name, std::string(1023, 'b'));
  EXPECT_EQ(lines[2].name, "rest");
  EXPECT_EQ(lines[2].value, "1");
  EXPECT_EQ(lines[3].name, "");
  EXPECT_EQ(lines[3].more, 0u);
}

TEST(IniParseLine, ReadsAcrossReadBufferBoundaries) {
  // Lines that straddle the 4097-byte reads arrive whole.
  std::string text;
  for (int i = 0; i < 600; ++i)
    text += "key" + std::to_string(i) + "=value" + std::to_string(i) + "\n";
  LineReader reader(text);
  std::vector<Parsed> lines = reader.All();
  ASSERT_EQ(lines.size(), 601u);
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(lines[i].name, "key" + std::to_string(i));
    ASSERT_EQ(lines[i].value, "value" + std::to_string(i));
  }
  EXPECT_GT(reader.file.reads, 2u);
}
