#include "archive/pack_fs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/hpfs_store.h"
#include "support/memory_file.h"
#include "support/pack_builder.h"

// Reads stop at the member's end (all or nothing without a count), seeks count from each origin
// and refuse negative positions, writes are refused, and the pack file's failures pass through.
TEST(PackFS, MemberFilesReadSeekAndRefuseWrites) {
  CPackFS fs;
  MemoryFile* pack = new MemoryFile(BuildPack({{"A", "aaa"}, {"Files\\Data\\a.txt", "alpha"}}));
  ASSERT_EQ(fs.Mount(pack), nullptr);
  CFile* member = fs.Open("Files\\Data\\a.txt", OPEN_READ, nullptr);
  ASSERT_NE(member, nullptr);
  char buffer[16] = {};
  u32 done = 99;
  EXPECT_EQ(member->Read(buffer, 6, nullptr), ERR_EOF);
  EXPECT_EQ(member->GetPosition(), 0u);
  EXPECT_EQ(member->Read(buffer, 2, &done), nullptr);
  EXPECT_EQ(member->Read(buffer, 10, &done), nullptr);  // cut to what is left
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::string(buffer, 3), "pha");
  EXPECT_EQ(member->Read(buffer, 1, &done), ERR_EOF);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(member->ReadAt(buffer, 1, 4, nullptr), nullptr);
  EXPECT_EQ(std::string(buffer, 4), "lpha");
  const struct {
    i32 offset;
    u16 origin;
    ErrorCode error;
    u32 position;
  } seeks[] = {{-1, SEEK_FROM_END, nullptr, 4},
               {-6, SEEK_FROM_END, ERR_UNKNOWN, 4},
               {-3, SEEK_FROM_CURRENT, nullptr, 1},
               {7, 9, nullptr, 7},  // unknown: from the start
               {50, SEEK_FROM_START, nullptr, 50}};
  for (const auto& seek : seeks) {
    EXPECT_EQ(member->Seek(seek.offset, seek.origin), seek.error) << seek.offset;
    EXPECT_EQ(member->GetPosition(), seek.position) << seek.offset;
  }
  EXPECT_EQ(member->Read(buffer, 1, &done), ERR_EOF);
  EXPECT_EQ(member->WriteAt("x", 3, 1, &done), ERR_NOTIMPLEMENTED);
  EXPECT_EQ(member->Truncate(), ERR_NOTIMPLEMENTED);
  const u32 flushes = pack->flushes;
  EXPECT_EQ(member->Flush(), nullptr);
  EXPECT_EQ(pack->flushes, flushes + 1);
  pack->failReadFrom = pack->reads + 1;
  EXPECT_EQ(member->ReadAt(buffer, 0, 4, nullptr), ERR_READFAIL);
  EXPECT_EQ(member->GetPosition(), 0u);
  delete member;
}

// Packs refused as they are mounted: bad headers, directories beyond the file, failed reads, and
// (by MountPack only) payloads whose members cannot all be reached or read whole, which the copy
// would otherwise leave out or cut short without a word. Every refused pack file is destroyed,
// and a later mount replaces a failed one.
TEST(PackFS, MountRefusesPacksThatCannotBeReadWhole) {
  const std::vector<u8> good = BuildPack({{"A", "aaa"}, {"B\\C", "c"}, {"D", "ddd"}});
  const u32 last = PackEntryOffset(good, 2);  // (1, 0, 'D', offset, size)
  struct Row {
    const char* what;
    std::function<void(std::vector<u8>&)> damage;
    ErrorCode mount, mountPack, openD;  // Mount, MountPack, then Open("D") after Mount
  };
  std::vector<Row> rows = {
      {"member past the end", [&](std::vector<u8>& p) { StoreLe32(p, last + 7, 4); }, nullptr,
       ERR_INVALIDFORMAT, ERR_INVALIDFORMAT},
      {"lower-case name", [&](std::vector<u8>& p) { p[last + 2] = 'd'; }, nullptr,
       ERR_INVALIDFORMAT, ERR_FILENOTFOUND},
      {"empty name part", [&](std::vector<u8>& p) { p[PackEntryOffset(p, 1) + 4] = '\\'; }, nullptr,
       ERR_INVALIDFORMAT, nullptr},
      {"entry cut off", [&](std::vector<u8>& p) { StoreLe32(p, 36, LoadLe32(p, 36) - 3); }, nullptr,
       ERR_INVALIDFORMAT, ERR_FILENOTFOUND},
      {"cut header", [&](std::vector<u8>& p) { p.resize(39); }, ERR_EOF, ERR_EOF, nullptr},
      {"directory beyond the file", [&](std::vector<u8>& p) { p[39] = 0x7F; }, ERR_EOF, ERR_EOF,
       nullptr},
  };
  for (u32 bit = 0; bit < 18 * 8; bit += 5) {
    rows.push_back({"magic", [bit](std::vector<u8>& p) { p[bit / 8] ^= u8(1u << (bit % 8)); },
                    ERR_UNKNOWN, ERR_UNKNOWN, nullptr});
  }
  ASSERT_EQ(InitMountTable(2), nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<u8> bad = good;
    row.damage(bad);
    bool destroyed = false;
    MemoryFile* file = new MemoryFile(bad);
    file->destroyedFlag = &destroyed;
    EXPECT_EQ(MountPack(file, "BAD"), row.mountPack);
    EXPECT_TRUE(destroyed);
    CPackFS fs;
    EXPECT_EQ(fs.Mount(new MemoryFile(bad)), row.mount);
    EXPECT_EQ(fs.Exists("A") == 1, row.mount == nullptr);
    if (!row.mount) {
      ErrorCode error = ERR_UNKNOWN;
      delete fs.Open("D", OPEN_READ, &error);
      EXPECT_EQ(error, row.openD);
    }
    EXPECT_EQ(fs.Mount(new MemoryFile(good)), nullptr);
    EXPECT_EQ(fs.Exists("A"), 1u);
  }
  EXPECT_EQ(FileServiceTable.Exists("BAD\\A"), 0u);
  MemoryFile* failing = new MemoryFile(good);
  failing->failReadFrom = 2;  // the header reads, the directory does not
  EXPECT_EQ(MountPack(failing, "BAD"), ERR_READFAIL);
  EXPECT_EQ(MountPack(nullptr, "BAD"), ERR_UNKNOWN);
  MemoryFile* closed = new MemoryFile(good);
  closed->isOpen = 0;
  EXPECT_EQ(MountPack(closed, "BAD"), ERR_UNKNOWN);
  EXPECT_EQ(ShutdownMountTable(), nullptr);
}
