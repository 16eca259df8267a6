// The INI reader: line syntax, lookups, bounded copies, and running out of memory.
#include "archive/ini_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "core/pools.h"
#include "support/failing_pools.h"
#include "support/memory_file.h"

namespace {

struct Parsed {
  std::string name, value, comment;
  u32 more;
};

// Records every line that Load hands to ParseLine; a line named "long" gets `longValue` as its
// value, which the line syntax itself cannot make.
class Recorder : public CIniTable {
 public:
  Recorder() : CIniTable(20, 500, new CSizedPtrPool, 1) {}
  u32 ParseLine(char* line, char** name, char** value, char** comment) override {
    u32 more = CIniTable::ParseLine(line, name, value, comment);
    lines.push_back({*name, *value, *comment, more});
    if (!longValue.empty() && std::strcmp(*name, "long") == 0) *value = &longValue[0];
    return more;
  }
  ErrorCode LoadText(const std::string& text) {
    lines.clear();
    file.bytes.assign(text.begin(), text.end());
    file.position = file.reads = 0;
    return Load(&file);
  }
  MemoryFile file;
  std::vector<Parsed> lines;
  std::string longValue;
};

}  // namespace

TEST(IniTable, LinesSplitIntoNameValueAndComment) {
  const std::string exact(1023, 'a'), cut(1023, 'b');
  const Parsed rows[] = {
      {"key", "some value", " note", 1},  // key = some value ; note\r
      {"k", "a=b", "", 1},
      {"k", "", "", 1},
      {"", "x", "", 1},
      {"u", "a", "b", 1},
      {"n", "a", "", 1},  // n=a<NUL>z=2: a NUL byte does not end its line
      {"[Str]", "", " header", 1},
      {"lonely name", "", "", 1},
      {exact, "", "", 1},
      {cut, "", "", 1},
      {"rest", "1", "", 1},  // the 1024th character is lost
      {"last", "line", "", 0},
  };
  Recorder reader;
  ASSERT_EQ(
      reader.LoadText("key = some value ; note\r\nk=a=b\nk=\n=x\nu=a;b\n" +
                      std::string("n=a\0z=2\n", 8) + "\t  [Str]  ; header\n  lonely name  \n" +
                      exact + "\n" + cut + "Xrest=1\nlast=line"),
      nullptr);
  ASSERT_EQ(reader.lines.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(reader.lines[i].name, rows[i].name) << i;
    EXPECT_EQ(reader.lines[i].value, rows[i].value) << i;
    EXPECT_EQ(reader.lines[i].comment, rows[i].comment) << i;
    EXPECT_EQ(reader.lines[i].more, rows[i].more) << i;
  }
  // Lines that straddle the reads of the input arrive whole.
  std::string text;
  for (int i = 0; i < 600; ++i) text += "key" + std::to_string(i) + "=v" + std::to_string(i) + "\n";
  ASSERT_EQ(reader.LoadText(text), nullptr);
  ASSERT_EQ(reader.lines.size(), 601u);
  for (int i = 0; i < 600; ++i) ASSERT_EQ(reader.lines[i].value, "v" + std::to_string(i));
  EXPECT_GT(reader.file.reads, 2u);
}

TEST(IniTable, LookupsIgnoreCaseAndTheLastHeaderOfANameWins) {
  Recorder table;
  ASSERT_EQ(table.LoadText("ignored=before any section\n[Str]  ; all texts\ntitle = VORN Patch\n"
                           "\n   \t\n; a comment line\nver=10001 ; hex\n[other]\ntitle=Other\n"
                           "[STR]\nextra=repeated\n[A]\nk=first\n[a]\nk=second\nk=third\n"
                           "last=no line break\n[Zone]\nZz=fold every letter"),
            nullptr);
  struct Row {
    const char *section, *key, *value;
  };
  const Row rows[] = {{"str", "title", nullptr},      {"Str", "EXTRA", "repeated"},
                      {"other", "Title", "Other"},    {"A", "k", "third"},
                      {"a", "LAST", "no line break"}, {"zONE", "zZ", "fold every letter"},
                      {"str", "ignored", nullptr},    {"none", "k", nullptr},
                      {"other", "k", nullptr}};
  for (const Row& row : rows) {
    const char* value = table.GetValue(row.section, row.key);
    EXPECT_STREQ(value, row.value) << row.section << "/" << row.key;
  }
  // The first section keeps its keys in file order, the comment line included.
  IniSection* first = table.FirstSection();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->Comment(), " all texts");
  std::string keys;
  for (IniKey* key = first->firstKey; key; key = key->next)
    keys += std::string(key->name) + "=" + key->Value() + ";" + key->Comment() + "|";
  EXPECT_EQ(keys, "title=VORN Patch;|=; a comment line|ver=10001; hex|");
  int sections = 0;
  for (IniSection* s = first; s; s = s->next) ++sections;
  EXPECT_EQ(sections, 6);

  // Reloading replaces; a header on the last line with nothing after it is not taken.
  ASSERT_EQ(table.LoadText("k=1\n[late]"), nullptr);
  EXPECT_EQ(table.FindSection("late"), nullptr);
  EXPECT_EQ(table.GetValue("a", "k"), nullptr);
  EXPECT_EQ(table.Load(nullptr), ERR_BADPARAMS);
  ASSERT_EQ(table.LoadText("[a]\nk=1\n"), nullptr);
  EXPECT_NE(table.LoadFile("no\\such.ini"), nullptr);  // nothing is mounted: the content stays
  EXPECT_STREQ(table.GetValue("a", "k"), "1");
  // A read that fails part-way fails the load: a half-read Patch.ini showed boxes without texts.
  table.file.failReadFrom = 2;
  EXPECT_EQ(table.LoadText("[a]\nk=1\n" + std::string(5000, ' ') + "\nz=2\n"), ERR_READFAIL);
  EXPECT_EQ(table.FirstSection(), nullptr);
}

TEST(IniTable, GetStringCopiesAtMostSizeMinusOneCharacters) {
  Recorder table;
  table.longValue.assign(5000, 'w');
  ASSERT_EQ(table.LoadText("[s]\nline=" + std::string(5000, 'v') + "\nshort=abc\nlong=x\n"),
            nullptr);
  EXPECT_EQ(std::strlen(table.GetValue("s", "line")), 1018u);  // cut at 1023 characters
  struct Row {
    const char* key;
    u32 size;
    ErrorCode error;
    size_t length;
  };
  const Row rows[] = {{"short", 4095, nullptr, 3},
                      {"line", 5, nullptr, 4},
                      {"line", kIniTextBufferSize, nullptr, 1018},
                      {"long", 4095, nullptr, 4094},
                      {"none", 5, ERR_NOTFOUND, 0},
                      {"short", 0, ERR_UNKNOWN, 0}};
  for (const Row& row : rows) {
    std::string buffer(6000, 'x');
    EXPECT_EQ(table.GetString("s", row.key, &buffer[0], row.size), row.error) << row.key;
    if (row.error) continue;
    EXPECT_EQ(std::strlen(buffer.c_str()), row.length) << row.key;
    if (row.size != kIniTextBufferSize) {  // the rest of the buffer is padded with NULs
      EXPECT_EQ(buffer.find_first_not_of('\0', row.length), row.size) << row.key;
    }
  }
  EXPECT_EQ(table.GetString("s", "short", nullptr, 5), ERR_UNKNOWN);
}

// The table as the patcher makes it: its own sized pool, created with nothrow new, loading
// through g_ptrPool. Every allocation on the way may fail.
TEST(IniTable, LoadSurvivesEveryAllocationFailure) {
  const std::string text = "[str]\ntitle=VORN Patch\n; note\nver=10001\n[other]\nk=v\n";
  const u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    CPtrPool* nodes = new (std::nothrow) CSizedPtrPool;
    CIniTable* table = nodes ? new (std::nothrow) CIniTable(20, 500, nodes, 1) : nullptr;
    if (!table) delete nodes;
    ErrorCode error = ERR_NOTENOUGHMEM;
    if (table) {
      MemoryFile file(text);
      error = table->Load(&file);
    }
    if (!run.Injected()) {
      ASSERT_EQ(error, nullptr);
      EXPECT_STREQ(table->GetValue("STR", "ver"), "10001");
    } else if (table) {
      EXPECT_EQ(error, ERR_NOTENOUGHMEM);
      EXPECT_EQ(table->GetValue("str", "title"), nullptr);
      EXPECT_EQ(table->FirstSection(), nullptr);
    }
    delete table;
    run.Disarm();
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  // Pool and table objects, two bucket arrays, the read buffer and six nodes, then a clean run.
  EXPECT_EQ(runs, 12u);
}
