// Loading and lookups of the INI table, and its behaviour when memory runs out.
#include "archive/ini_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/pools.h"
#include "support/failing_pools.h"
#include "support/memory_file.h"

namespace {

class IniTableTest : public ::testing::Test {
 protected:
  IniTableTest() : table(20, 500, new CSizedPtrPool, 1) {}
  ErrorCode LoadText(const std::string& text) {
    MemoryFile file(text);
    return table.Load(&file);
  }
  CIniTable table;
};

const char kPatchIni[] =
    "; texts of the patch\n"
    "ignored=before any section\n"
    "[Str]  ; all texts\n"
    "title = VORN Patch\n"
    "\n"
    "   \t\n"
    "; a comment line\n"
    "ver=10001 ; hexadecimal\n"
    "welcome=Line one|line two\n"
    "[other]\n"
    "title=Other\n"
    "[STR]\n"
    "extra=from the repeated header\n"
    "[A]\n"
    "k=first\n"
    "[a]\n"
    "k=second\n"
    "k=third\n"
    "last=no line break";

}  // namespace

TEST_F(IniTableTest, FindsSectionsAndKeysIgnoringCase) {
  ASSERT_EQ(LoadText(kPatchIni), nullptr);
  // The repeated header hides the keys of the earlier one.
  EXPECT_EQ(table.GetValue("str", "title"), nullptr);
  EXPECT_STREQ(table.GetValue("Str", "EXTRA"), "from the repeated header");
  EXPECT_STREQ(table.GetValue("other", "Title"), "Other");
  EXPECT_STREQ(table.GetValue("A", "k"), "third");
  EXPECT_STREQ(table.GetValue("a", "LAST"), "no line break");
  EXPECT_EQ(table.GetValue("str", "ignored"), nullptr);
  EXPECT_EQ(table.GetValue("nosection", "k"), nullptr);
  EXPECT_EQ(table.GetValue("other", "k"), nullptr);

  IniSection* first = table.FirstSection();
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->name, "Str");
  EXPECT_STREQ(first->Comment(), " all texts");
  // The earlier section keeps its keys in file order, comment line included.
  IniKey* key = first->firstKey;
  ASSERT_NE(key, nullptr);
  EXPECT_STREQ(key->name, "title");
  EXPECT_STREQ(key->Value(), "VORN Patch");
  key = key->next;
  ASSERT_NE(key, nullptr);
  EXPECT_STREQ(key->name, "");
  EXPECT_STREQ(key->Comment(), " a comment line");
  key = key->next;
  ASSERT_NE(key, nullptr);
  EXPECT_STREQ(key->Value(), "10001");
  EXPECT_STREQ(key->Comment(), " hexadecimal");
  EXPECT_EQ(key->next->next, nullptr);
  EXPECT_EQ(first->lastKey, key->next);

  int sections = 0;
  for (IniSection* s = first; s; s = s->next) ++sections;
  EXPECT_EQ(sections, 5);
}

TEST_F(IniTableTest, GetStringBoundsTheCopy) {
  const std::string longValue(5000, 'v');
  ASSERT_EQ(LoadText("[s]\nlong=" + longValue + "\nshort=abc\n"), nullptr);
  // A 5000-character line is cut to 1023 characters: "long=" and 1018 of the value.
  ASSERT_EQ(std::strlen(table.GetValue("s", "long")), 1018u);

  std::string buffer(4095, 'x');
  ASSERT_EQ(table.GetString("s", "short", &buffer[0], 4095), nullptr);
  EXPECT_STREQ(buffer.c_str(), "abc");
  EXPECT_EQ(buffer.find_first_not_of('\0', 3), std::string::npos);  // padded with NULs

  char small[5];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(table.GetString("s", "long", small, 5), nullptr);
  EXPECT_STREQ(small, "vvvv");
  char unbounded[1100];
  ASSERT_EQ(table.GetString("s", "long", unbounded, kIniTextBufferSize), nullptr);
  EXPECT_EQ(std::strlen(unbounded), 1018u);

  EXPECT_EQ(table.GetString("s", "none", small, 5), ERR_NOTFOUND);
  EXPECT_EQ(table.GetString("s", "short", nullptr, 5), ERR_UNKNOWN);
  EXPECT_EQ(table.GetString("s", "short", small, 0), ERR_UNKNOWN);
}

TEST_F(IniTableTest, GetStringOfALongValueDeliversSizeMinusOneCharacters) {
  // A value longer than the buffer, built through a derived syntax that allows long lines.
  const std::string longValue(5000, 'w');
  struct LongLines : CIniTable {
    explicit LongLines(const std::string& v) : CIniTable(20, 500, new CSizedPtrPool, 1), value(v) {}
    u32 ParseLine(char* line, char** name, char** v, char** comment) override {
      u32 more = CIniTable::ParseLine(line, name, v, comment);
      if (std::strcmp(*name, "long") == 0) *v = &value[0];
      return more;
    }
    std::string value;
  } longTable(longValue);
  MemoryFile file(std::string("[s]\nlong=x\n"));
  ASSERT_EQ(longTable.Load(&file), nullptr);
  std::string buffer(4095, 'x');
  ASSERT_EQ(longTable.GetString("s", "long", &buffer[0], 4095), nullptr);
  EXPECT_EQ(std::strlen(buffer.c_str()), 4094u);
  EXPECT_EQ(buffer.compare(0, 4094, longValue, 0, 4094), 0);
}

TEST_F(IniTableTest, ReloadReplacesAndBadInputsLeaveTheTableUsable) {
  ASSERT_EQ(LoadText("[a]\nk=1\n"), nullptr);
  ASSERT_EQ(LoadText("[b]\nk=2\n"), nullptr);
  EXPECT_EQ(table.GetValue("a", "k"), nullptr);
  EXPECT_STREQ(table.GetValue("b", "k"), "2");
  EXPECT_EQ(table.Load(nullptr), ERR_BADPARAMS);
  EXPECT_EQ(table.GetValue("b", "k"), nullptr);
  // A header on the very last line, with nothing after it, is not taken.
  ASSERT_EQ(LoadText("k=1\n[late]"), nullptr);
  EXPECT_EQ(table.FindSection("late"), nullptr);
  // A read that fails part-way fails the load: a half-read Patch.ini showed boxes without texts.
  MemoryFile broken(std::string("[a]\nk=1\n") + std::string(5000, ' ') + "\nz=2\n");
  broken.failReadFrom = 2;
  EXPECT_EQ(table.Load(&broken), ERR_READFAIL);
  EXPECT_EQ(table.FirstSection(), nullptr);
}

TEST_F(IniTableTest, LoadFileReportsTheOpenErrorAndKeepsTheContent) {
  ASSERT_EQ(LoadText("[a]\nk=1\n"), nullptr);
  // No service is mounted, so nothing opens.
  EXPECT_NE(table.LoadFile("no\\such.ini"), nullptr);
  EXPECT_STREQ(table.GetValue("a", "k"), "1");
}

namespace {

// Pool that fails one chosen allocation and counts the blocks it has out.
struct CountdownPool : CPtrPool {
  void* Alloc(u32 size) override {
    if (failAt && ++calls == failAt) return nullptr;
    ++live;
    return std::malloc(size);
  }
  void* Realloc(void* block, u32 size) override { return std::realloc(block, size); }
  void Free(void* block) override {
    if (block) --live;
    std::free(block);
  }
  u32 failAt = 0;
  u32 calls = 0;
  int live = 0;
};

}  // namespace

TEST(IniTableMemory, EveryFailedAllocationLeavesAnEmptyTableAndNoLeak) {
  const std::string text = "[s]\na=1\n;note\n[t]\nb=2\nc=3\n";
  u32 failures = 0;
  for (u32 failAt = 1; failAt < 40; ++failAt) {
    for (bool failNodes : {true, false}) {
      CountdownPool nodes, blocks;
      CPtrPool* saved = g_ptrPool;
      g_ptrPool = &blocks;
      (failNodes ? nodes : blocks).failAt = failAt;
      {
        CIniTable table(20, 500, &nodes, 0);
        MemoryFile file(text);
        ErrorCode error = table.Load(&file);
        if (error) {
          ++failures;
          EXPECT_EQ(error, ERR_NOTENOUGHMEM);
          EXPECT_EQ(table.FirstSection(), nullptr);
          EXPECT_EQ(table.GetValue("s", "a"), nullptr);
          EXPECT_EQ(nodes.live, 0);
        } else {
          EXPECT_STREQ(table.GetValue("t", "c"), "3");
        }
      }
      g_ptrPool = saved;
      EXPECT_EQ(nodes.live, 0) << failAt;
      EXPECT_EQ(blocks.live, 0) << failAt;
    }
  }
  // Six nodes, two bucket arrays and one read buffer could each fail.
  EXPECT_EQ(failures, 9u);
}

// The table as the patcher makes it: its own sized pool, created with nothrow new, loading
// through g_ptrPool. Every allocation on the way may fail.
TEST(IniTableMemory, LoadFromTheGlobalPoolsSurvivesEveryFailure) {
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
    }
    delete table;
    run.Disarm();
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  // Pool and table objects, two bucket arrays, the read buffer and six nodes, then a clean run.
  EXPECT_EQ(runs, 12u);
}
