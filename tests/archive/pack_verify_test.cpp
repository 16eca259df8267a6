#include "archive/pack_verify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

void Put32(std::vector<u8>* bytes, u32 at, u32 value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<u8>(value >> (8 * i));
}

u32 Get32(const std::vector<u8>& bytes, u32 at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<u32>(bytes[at + 3]) << 24;
}

// Offset of member i's record (offset, size) in the pack.
u32 RecordAt(const std::vector<u8>& pack, u32 i) {
  u32 entry = PackEntryOffset(pack, i);
  return entry + 2 + pack[entry] - pack[entry + 1];
}

void ExpectRefused(const std::vector<u8>& pack, const char* mentions, const char* also = nullptr) {
  Verdict v = Verify(pack);
  EXPECT_EQ(v.error, ERR_INVALIDFORMAT) << v.message;
  EXPECT_NE(v.message.find(mentions), std::string::npos) << v.message;
  if (also) {
    EXPECT_NE(v.message.find(also), std::string::npos) << v.message;
  }
}

}  // namespace

TEST(PackVerify, AcceptsWhatTheWriterMakes) {
  Verdict v = Verify(BuildPack(kMembers));
  EXPECT_EQ(v.error, nullptr) << v.message;
  EXPECT_EQ(v.message, "");
  EXPECT_EQ(Verify(BuildPack({})).error, nullptr);
}

TEST(PackVerify, NamesTheMemberWhoseDataOrCrcIsWrong) {
  std::vector<u8> good = BuildPack(kMembers);
  u32 tableAt = 40 + Get32(good, 36);

  std::vector<u8> badCrc = good;
  badCrc[tableAt + 4 * 2] ^= 0x01;
  ExpectRefused(badCrc, "\"DIR\\B.TXT\"", "CRC-32");

  std::vector<u8> badData = good;
  badData[Get32(good, RecordAt(good, 1)) + 69999] ^= 0x80;  // last byte of the second chunk
  ExpectRefused(badData, "\"A2\"", "CRC-32");
}

TEST(PackVerify, RefusesMemberRangesOutsideThePackOrOverlapping) {
  std::vector<u8> good = BuildPack(kMembers);
  std::vector<u8> past = good;
  Put32(&past, RecordAt(good, 3) + 4, 1);  // the empty last member grows one byte past the end
  ExpectRefused(past, "\"DIR\\C.TXT\"", "past the end");

  std::vector<u8> overlap = good;
  Put32(&overlap, RecordAt(good, 2), Get32(good, RecordAt(good, 1)) + 5);
  ExpectRefused(overlap, "\"DIR\\B.TXT\"", "inside");

  std::vector<u8> intoTable = good;
  Put32(&intoTable, RecordAt(good, 0), 40);
  ExpectRefused(intoTable, "\"A1\"", "directory");
}

TEST(PackVerify, RefusesDirectoriesOutOfOrderOrMalformed) {
  std::vector<u8> good = BuildPack(kMembers);
  u32 second = PackEntryOffset(good, 1);  // (2, 1, '2', record)

  std::vector<u8> order = good;
  order[second + 2] = '0';  // "A0" after "A1"
  ExpectRefused(order, "\"A0\"", "order");

  std::vector<u8> shared = good;
  shared[second + 1] = 3;  // more than the previous name has
  ExpectRefused(shared, "entry 1", "shared length");

  std::vector<u8> lower = good;
  lower[second + 2] = 'b';
  ExpectRefused(lower, "\"Ab\"", "lower-case");

  std::vector<u8> count = good;
  Put32(&count, 32, 5);
  ExpectRefused(count, "5 members");

  std::vector<u8> cut = good;
  Put32(&cut, 36, Get32(good, 36) - 3);  // the last entry runs past the directory
  ExpectRefused(cut, "entry 3", "past the end of the directory");

  // "DIR", "DIR.A", "DIR\B": a member that is also the directory of a later, not the next, one.
  std::vector<u8> folder = BuildPack({{"DIR", ""}, {"DIR.A", ""}, {"DIRXB", ""}});
  folder[PackEntryOffset(folder, 2) + 2] = '\\';
  ExpectRefused(folder, "\"DIR\\B\"", "\"DIR\" is also its directory");

  std::vector<u8> magic = good;
  magic[17] = ' ';
  ExpectRefused(magic, "magic");
  ExpectRefused(std::vector<u8>(good.begin(), good.begin() + 30), "header");
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
