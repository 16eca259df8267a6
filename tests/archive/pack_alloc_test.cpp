// Allocation failures at every point of mounting, listing, opening, writing and verifying packs:
// each either works or fails with ALLOCFAIL, and nothing is left allocated.
#include <gtest/gtest.h>

#include <map>
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
    CPackFS* fs = new CPackFS();
    MemoryFile* file = new MemoryFile(pack);
    run.Arm();
    ErrorCode error = fs->Mount(file);
    if (error) {
      EXPECT_TRUE(run.Injected());
      EXPECT_TRUE(error == ERR_ALLOCFAIL || error == ERR_LOCKFAIL) << ErrorText(error);
    } else {
      // Without its checkpoint table the index only scans further; it finds the same members.
      for (const auto& member : members) {
        ErrorCode openError = nullptr;
        CFile* opened = fs->Open(member.first.c_str(), OPEN_READ, &openError);
        if (!opened) {
          EXPECT_EQ(openError, ERR_ALLOCFAIL) << member.first;
          EXPECT_TRUE(run.Injected());
          continue;
        }
        std::string data(opened->GetSize(), '\0');
        EXPECT_EQ(opened->Read(&data[0], opened->GetSize(), nullptr), nullptr);
        EXPECT_EQ(data, member.second);
        delete opened;
      }
      FindRecord record{};
      ErrorCode listError = fs->FindFirst(&record, "DIR1");
      u32 listed = 0;
      while (!listError) {
        ++listed;
        listError = fs->FindNext(&record);
      }
      EXPECT_TRUE(listError == ERR_NOTFOUND || (listError == ERR_ALLOCFAIL && run.Injected()));
      if (listError == ERR_NOTFOUND) {
        EXPECT_EQ(listed, 77u);
      }
      fs->FindClose(&record);
    }
    run.Disarm();
    delete fs;
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_GT(runs, 3u);
}

TEST(PackAllocation, MountPackLeavesNothingBehind) {
  const std::vector<u8> pack = BuildPack(ManyMembers());
  RunWithAllocationFailures([&](AllocationFailureRun& run) {
    ASSERT_EQ(InitMountTable(4), nullptr);
    MemoryFile* file = new MemoryFile(pack);
    run.Arm();
    ErrorCode error = MountPack(file, "DATA");
    run.Disarm();
    if (error) {
      EXPECT_TRUE(run.Injected());
      EXPECT_TRUE(error == ERR_ALLOCFAIL || error == ERR_LOCKFAIL) << ErrorText(error);
      EXPECT_EQ(FileServiceTable.Exists("DATA\\TOP.INI"), 0u);
    } else {
      EXPECT_EQ(FileServiceTable.Exists("data\\top.ini"), 1u);
    }
    EXPECT_EQ(ShutdownMountTable(), nullptr);
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
}

TEST(PackAllocation, WriterAndVerifierFailCleanly) {
  const PackMembers members = ManyMembers();
  std::vector<std::string> names;
  std::vector<u32> sizes;
  for (const auto& member : members) {
    names.push_back(member.first);
    sizes.push_back(static_cast<u32>(member.second.size()));
  }
  std::vector<const char*> pointers;
  for (const std::string& name : names) pointers.push_back(name.c_str());
  RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile out;
    {
      CPackWriter writer(&out);
      run.Arm();
      ErrorCode error = writer.Begin(static_cast<u32>(names.size()), pointers.data(), sizes.data());
      for (const auto& member : members) {
        if (error) break;
        error = writer.Write(member.second.data(), static_cast<u32>(member.second.size()));
      }
      if (!error) error = writer.Finish();
      run.Disarm();
      EXPECT_TRUE(error == nullptr || (error == ERR_ALLOCFAIL && run.Injected()))
          << ErrorText(error) << " " << writer.Problem();
      if (error) return;
    }
    EXPECT_EQ(out.bytes, BuildPack(members));
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });

  const std::vector<u8> pack = BuildPack(members);
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
