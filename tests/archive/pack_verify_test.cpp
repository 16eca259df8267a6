#include "archive/pack_verify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/hpfs_store.h"
#include "support/memory_file.h"
#include "support/pack_builder.h"

namespace {

const PackMembers kMembers = {
    {"A1", "first member"},
    {"A2", std::string(70000, 'z')},  // more than one read chunk
    {"DIR\\B.TXT", "bee"},
    {"DIR\\C.TXT", ""},
};

struct Verdict {
  ErrorCode error;
  std::string message;
};

Verdict Verify(const std::vector<u8>& pack) {
  MemoryFile file(pack);
  char message[256];
  std::memset(message, 'x', sizeof message);
  ErrorCode error = VerifyPack(&file, message, sizeof message);
  return {error, message};
}

// Offset of member i's record (offset, size) in the pack.
u32 RecordAt(const std::vector<u8>& pack, u32 i) {
  u32 entry = PackEntryOffset(pack, i);
  return entry + 2 + pack[entry] - pack[entry + 1];
}

}  // namespace

TEST(PackVerify, AcceptsWhatTheWriterMakesAndNamesEachKindOfDamage) {
  EXPECT_EQ(Verify(BuildPack({})).error, nullptr);
  const std::vector<u8> good = BuildPack(kMembers);
  Verdict sound = Verify(good);
  EXPECT_EQ(sound.error, nullptr) << sound.message;
  EXPECT_EQ(sound.message, "");
  const u32 second = PackEntryOffset(good, 1);
  struct Row {
    std::function<void(std::vector<u8>&)> damage;
    const char *mentions, *also;
  };
  const Row rows[] = {
      // The last byte of the second read chunk.
      {[&](std::vector<u8>& p) { p[LoadLe32(good, RecordAt(good, 1)) + 69999] ^= 0x80; }, "\"A2\"",
       "CRC-32"},
      {[&](std::vector<u8>& p) { StoreLe32(p, RecordAt(good, 3) + 4, 1); }, "\"DIR\\C.TXT\"",
       "past the end"},
      {[&](std::vector<u8>& p) {
         StoreLe32(p, RecordAt(good, 2), LoadLe32(good, RecordAt(good, 1)) + 5);
       },
       "\"DIR\\B.TXT\"", "inside"},
      {[&](std::vector<u8>& p) { StoreLe32(p, RecordAt(good, 0), 40); }, "\"A1\"", "directory"},
      {[&](std::vector<u8>& p) { p[second + 2] = '0'; }, "\"A0\"", "order"},
      {[&](std::vector<u8>& p) { p[second + 1] = 3; }, "entry 1", "shared length"},
      {[&](std::vector<u8>& p) { p[second + 2] = 'b'; }, "\"Ab\"", "lower-case"},
      {[&](std::vector<u8>& p) { StoreLe32(p, 32, 1); }, "counts 1 members", "holds 4"},
      {[&](std::vector<u8>& p) { StoreLe32(p, 36, LoadLe32(good, 36) - 3); }, "entry 3",
       "past the end of the directory"},
      // "DIR", "DIR.A", "DIR\B": a member that is also the directory of a later, not the next, one.
      {[&](std::vector<u8>& p) {
         p = BuildPack({{"DIR", ""}, {"DIR.A", ""}, {"DIRXB", ""}});
         p[PackEntryOffset(p, 2) + 2] = '\\';
       },
       "\"DIR\\B\"", "\"DIR\" is also its directory"},
      {[&](std::vector<u8>& p) { p[17] = ' '; }, "magic", ""},
  };
  for (const Row& row : rows) {
    std::vector<u8> damaged = good;
    row.damage(damaged);
    Verdict v = Verify(damaged);
    EXPECT_EQ(v.error, ERR_INVALIDFORMAT) << v.message;
    EXPECT_NE(v.message.find(row.mentions), std::string::npos) << v.message;
    EXPECT_NE(v.message.find(row.also), std::string::npos) << v.message;
  }
}

TEST(PackVerify, PassesReadFailuresOnWithTheMember) {
  MemoryFile file(BuildPack(kMembers));
  file.failReadFrom = 6;  // header, directory, table, A1, A2's first chunk, then its second
  file.failError = ERR_READFAIL;
  char message[200];
  EXPECT_EQ(VerifyPack(&file, message, sizeof message), ERR_READFAIL);
  EXPECT_NE(std::strstr(message, "\"A2\""), nullptr) << message;
  EXPECT_EQ(VerifyPack(&file, nullptr, 0), ERR_READFAIL);  // no message buffer is fine too
}
