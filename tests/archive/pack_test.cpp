// The pack writer and verifier; their layout is held to the reference writer of tests/reference
// by the tool's tests, and what they store is read back by every pack test (BuildPack writes).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/pack_fs.h"
#include "archive/pack_verify.h"
#include "archive/pack_writer.h"
#include "support/failing_pools.h"
#include "support/hpfs_store.h"
#include "support/memory_file.h"
#include "support/pack_builder.h"

namespace {

ErrorCode Begin(CPackWriter* writer, std::vector<const char*> names, std::vector<u32> sizes = {}) {
  sizes.resize(names.size(), 1);
  return writer->Begin(static_cast<u32>(names.size()), names.data(), sizes.data());
}

std::string Verify(const std::vector<u8>& pack, ErrorCode expected, MemoryFile* file = nullptr) {
  MemoryFile own(pack);
  char message[256];
  std::memset(message, 'x', sizeof message);
  EXPECT_EQ(VerifyPack(file ? file : &own, message, sizeof message), expected) << message;
  return message;
}

// Offset of member i's record (offset, size) in the pack.
u32 RecordAt(const std::vector<u8>& pack, u32 i) {
  u32 entry = PackEntryOffset(pack, i);
  return entry + 2 + pack[entry] - pack[entry + 1];
}

// Enough members for the index to keep checkpoints (one per 100).
PackMembers ManyMembers() {
  PackMembers members{{"TOP.INI", "top"}};
  for (int i = 0; i < 230; ++i)
    members["DIR" + std::to_string(i % 3) + "\\FILE" + std::to_string(i)] = std::to_string(i);
  return members;
}

}  // namespace

// Pieces of any size give the same pack as one write; totals past 4 GiB and output failures
// are reported.
TEST(PackWriter, StreamsDataInAnyPiecesAndChecksTheTotalAndTheOutput) {
  const char data[] = "helloseven77";
  MemoryFile whole, pieces;
  CPackWriter a(&whole), b(&pieces);
  ASSERT_EQ(Begin(&a, {"A", "B", "C", "D"}, {5, 0, 7, 0}), nullptr);
  ASSERT_EQ(Begin(&b, {"A", "B", "C", "D"}, {5, 0, 7, 0}), nullptr);
  EXPECT_EQ(a.Finish(), ERR_BADPARAMS);  // nothing written yet
  ASSERT_EQ(a.Write(data, 12), nullptr);
  for (int i = 0; i < 12; i += 3) ASSERT_EQ(b.Write(data + i, 3), nullptr);
  EXPECT_EQ(a.Write("!", 1), ERR_OUTOFRANGE);
  EXPECT_EQ(a.Finish(), nullptr);
  EXPECT_EQ(b.Finish(), nullptr);
  EXPECT_EQ(whole.bytes, pieces.bytes);
  EXPECT_EQ(whole.bytes.size(), a.PackSize());

  MemoryFile big, failing;
  CPackWriter bigWriter(&big), writer(&failing);
  EXPECT_EQ(Begin(&bigWriter, {"BIG1", "BIG2"}, {0x80000000u, 0x7FFFFFF0u}), ERR_OUTOFRANGE);
  EXPECT_NE(std::strstr(bigWriter.Problem(), "4 GiB"), nullptr);
  // Fits: header, directory and table take well under 0xFF bytes.
  EXPECT_EQ(Begin(&bigWriter, {"BIG1", "BIG2"}, {0x80000000u, 0x7FFFFF00u}), nullptr);
  failing.failWriteFrom = 1;
  failing.failError = ERR_DISKFULL;
  EXPECT_EQ(Begin(&writer, {"A"}), ERR_DISKFULL);
  failing.failWriteFrom = 0;
  ASSERT_EQ(Begin(&writer, {"A"}), nullptr);
  failing.failWriteFrom = failing.writes + 1;
  EXPECT_EQ(writer.Write("x", 1), ERR_DISKFULL);
}

TEST(PackVerify, AcceptsWhatTheWriterMakesAndNamesEachKindOfDamage) {
  const std::vector<u8> good = BuildPack({{"A1", "first member"},
                                          {"A2", std::string(70000, 'z')},  // two read chunks
                                          {"DIR\\B.TXT", "bee"},
                                          {"DIR\\C.TXT", ""}});
  EXPECT_EQ(Verify(BuildPack({}), nullptr), "");
  EXPECT_EQ(Verify(good, nullptr), "");
  const u32 second = PackEntryOffset(good, 1), a2 = LoadLe32(good, RecordAt(good, 1));
  const struct {
    std::function<void(std::vector<u8>&)> damage;
    const char *mentions, *also;
  } rows[] = {
      {[&](std::vector<u8>& p) { p[a2 + 69999] ^= 0x80; }, "\"A2\"", "CRC-32"},
      {[&](std::vector<u8>& p) { StoreLe32(p, RecordAt(good, 3) + 4, 1); }, "\"DIR\\C.TXT\"",
       "past the end"},
      {[&](std::vector<u8>& p) { StoreLe32(p, RecordAt(good, 2), a2 + 5); }, "\"DIR\\B.TXT\"",
       "inside"},
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
  for (const auto& row : rows) {
    std::vector<u8> damaged = good;
    row.damage(damaged);
    const std::string message = Verify(damaged, ERR_INVALIDFORMAT);
    EXPECT_NE(message.find(row.mentions), std::string::npos) << message;
    EXPECT_NE(message.find(row.also), std::string::npos) << message;
  }
  MemoryFile failing(good);
  failing.failReadFrom = 6;  // header, directory, table, A1, A2's first chunk, then its second
  EXPECT_NE(Verify({}, ERR_READFAIL, &failing).find("\"A2\""), std::string::npos);
  EXPECT_EQ(VerifyPack(&failing, nullptr, 0), ERR_READFAIL);  // no message buffer is fine too
}

// Allocation failures at every point of mounting, listing, opening, writing and verifying: each
// either works or fails with ALLOCFAIL (LOCKFAIL for a directory that cannot be locked), and
// nothing is left allocated.
TEST(PackAllocation, EveryOperationFailsCleanly) {
  const PackMembers members = ManyMembers();
  const std::vector<u8> pack = BuildPack(members);
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    ASSERT_EQ(InitMountTable(4), nullptr);
    MemoryFile* file = new MemoryFile(pack);
    MemoryFile out, copy(pack);
    char message[200];
    run.Arm();
    ErrorCode error = MountPack(file, "DATA");
    EXPECT_TRUE(!error || (run.Injected() && (error == ERR_ALLOCFAIL || error == ERR_LOCKFAIL)))
        << ErrorText(error);
    EXPECT_EQ(FileServiceTable.Exists("data\\top.ini"), error ? 0u : 1u);
    // Without its checkpoint table the index only scans further; it finds the same members.
    for (auto member = members.begin(); !error && member != members.end(); ++member) {
      ErrorCode openError = nullptr;
      CFile* opened =
          FileServiceTable.Open(("DATA\\" + member->first).c_str(), OPEN_READ, &openError);
      if (!opened) {
        EXPECT_TRUE(openError == ERR_ALLOCFAIL && run.Injected()) << member->first;
        continue;
      }
      std::string data(opened->GetSize(), '\0');
      EXPECT_EQ(opened->Read(&data[0], opened->GetSize(), nullptr), nullptr);
      EXPECT_EQ(data, member->second);
      delete opened;
    }
    FindRecord record{};
    ErrorCode listError = error ? ERR_NOTFOUND : FileServiceTable.FindFirst(&record, "DATA\\DIR1");
    u32 listed = 0;
    for (; !listError; listError = FileServiceTable.FindNext(&record)) ++listed;
    EXPECT_TRUE(listError == ERR_NOTFOUND || (listError == ERR_ALLOCFAIL && run.Injected()));
    EXPECT_TRUE(error || listError != ERR_NOTFOUND || listed == 77u);
    if (!error) FileServiceTable.FindClose(&record);
    ErrorCode written = nullptr, verified = VerifyPack(&copy, message, sizeof message);
    {
      CPackWriter writer(&out);
      written = WritePack(&writer, members);
    }
    run.Disarm();
    for (ErrorCode e : {written, verified})
      EXPECT_TRUE(e == nullptr || (e == ERR_ALLOCFAIL && run.Injected())) << ErrorText(e);
    EXPECT_TRUE(written || out.bytes == pack);
    EXPECT_EQ(ShutdownMountTable(), nullptr);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_GT(runs, 3u);
}
