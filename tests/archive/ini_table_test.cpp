// The INI reader: line syntax, lookups, bounded copies, and running out of memory.
#include "archive/ini_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/pools.h"
#include "support/failing_pools.h"
#include "support/memory_file.h"

namespace {

// A table in which a key named "long" gets `longValue` as its value, which the line syntax
// itself cannot make.
class Table : public CIniTable {
 public:
  Table() : CIniTable(20, 500, new CSizedPtrPool, 1) {}
  u32 ParseLine(char* line, char** name, char** value, char** comment) override {
    u32 more = CIniTable::ParseLine(line, name, value, comment);
    if (!longValue.empty() && std::strcmp(*name, "long") == 0) *value = &longValue[0];
    return more;
  }
  std::string longValue;
};

}  // namespace

TEST(IniTable, GetStringCopiesAtMostSizeMinusOneCharacters) {
  Table table;
  table.longValue.assign(5000, 'w');
  const std::string text = "[s]\nline=" + std::string(5000, 'v') + "\nshort=abc\nlong=x\n";
  MemoryFile file(std::vector<u8>(text.begin(), text.end()));
  ASSERT_EQ(table.Load(&file), nullptr);
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
      MemoryFile file(std::vector<u8>(text.begin(), text.end()));
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
