// Allocation failures at every point of mounting, listing, opening, writing and verifying packs:
// each either works or fails with ALLOCFAIL (LOCKFAIL for a directory that cannot be locked),
// and nothing is left allocated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/pack_fs.h"
#include "archive/pack_verify.h"
#include "archive/pack_writer.h"
#include "support/failing_pools.h"
#include "support/memory_file.h"
#include "support/pack_builder.h"

namespace {

// Enough members for the index to keep checkpoints (one per 100).
PackMembers ManyMembers() {
  PackMembers members;
  for (int i = 0; i < 230; ++i)
    members["DIR" + std::to_string(i % 3) + "\\FILE" + std::to_string(i)] = std::to_string(i);
  members["TOP.INI"] = "top";
  return members;
}

}  // namespace

TEST(PackAllocation, MountListAndOpenFailCleanly) {
  const PackMembers members = ManyMembers();
  const std::vector<u8> pack = BuildPack(members);
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    ASSERT_EQ(InitMountTable(4), nullptr);
    MemoryFile* file = new MemoryFile(pack);
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
    if (!error && listError == ERR_NOTFOUND) {
      EXPECT_EQ(listed, 77u);
    }
    if (!error) FileServiceTable.FindClose(&record);
    run.Disarm();
    EXPECT_EQ(ShutdownMountTable(), nullptr);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_GT(runs, 3u);
}

TEST(PackAllocation, WriterAndVerifierFailCleanly) {
  const PackMembers members = ManyMembers();
  std::vector<const char*> names;
  std::vector<u32> sizes;
  for (const auto& member : members) {
    names.push_back(member.first.c_str());
    sizes.push_back(static_cast<u32>(member.second.size()));
  }
  const std::vector<u8> pack = BuildPack(members);
  RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile out;
    {
      CPackWriter writer(&out);
      run.Arm();
      ErrorCode error = writer.Begin(static_cast<u32>(names.size()), names.data(), sizes.data());
      for (auto member = members.begin(); !error && member != members.end(); ++member)
        error = writer.Write(member->second.data(), static_cast<u32>(member->second.size()));
      if (!error) error = writer.Finish();
      run.Disarm();
      EXPECT_TRUE(error == nullptr || (error == ERR_ALLOCFAIL && run.Injected()))
          << ErrorText(error) << " " << writer.Problem();
      if (error) return;
    }
    EXPECT_EQ(out.bytes, pack);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile file(pack);
    char message[200];
    run.Arm();
    ErrorCode error = VerifyPack(&file, message, sizeof message);
    run.Disarm();
    EXPECT_TRUE(error == nullptr || (error == ERR_ALLOCFAIL && run.Injected())) << message;
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
}
