// Allocation failures in the disk layer: file objects, find-data blocks and the service itself.
#include <cstring>
#include <memory>

#include "file/disk_file.h"
#include "file/disk_os.h"
#include "file/disk_test_support.h"
#include "support/failing_pools.h"

using namespace disk_test;

namespace {

// The handle stayed open when the file object could not be made.
TEST(DiskAlloc, OpenClosesTheHandleWhenTheFileObjectCannotBeMade) {
  TempDir dir;
  dir.Write("f", "data");
  CDiskFS disk;
  ScopedOsFaults os;
  {
    FailingPoolsGuard pools;
    AllocationFailures::Arm(1, true);
    ErrorCode error = nullptr;
    EXPECT_FALSE(disk.Open(dir.Path("f").c_str(), OPEN_READ, &error));
    EXPECT_EQ(error, ERR_NOTENOUGHMEM) << "no file and no error would read as success";
    EXPECT_EQ(AllocationFailures::Injected(), 1u);
  }
  EXPECT_EQ(os.Calls(kOpen), 1u);
  EXPECT_EQ(os.Calls(kClose), 1u);
  // Windows refuses to delete a file that is still open.
  EXPECT_EQ(disk.Delete(dir.Path("f").c_str()), nullptr);
}

TEST(DiskAlloc, FindFirstWithoutFindDataReportsNotEnoughMemory) {
  TempDir dir;
  CDiskFS disk;
  ScopedOsFaults os;
  FailingPoolsGuard pools;
  AllocationFailures::Arm(1, true);
  FindRecord record;
  std::memset(&record, 0x5A, sizeof(record));
  EXPECT_EQ(disk.FindFirst(&record, dir.Path().c_str()), ERR_NOTENOUGHMEM);
  EXPECT_TRUE(RecordIsEmpty(record));
  EXPECT_EQ(os.TotalCalls(), 0u);
}

TEST(DiskAlloc, EveryAllocationOfOpenAndListingMayFail) {
  TempDir dir;
  dir.Write("f", "data");
  CDiskFS disk;
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    ErrorCode error = nullptr;
    std::unique_ptr<CFile> file(disk.Open(dir.Path("f").c_str(), OPEN_READ, &error));
    FindRecord record;
    ErrorCode found = disk.FindFirst(&record, dir.Path().c_str());
    if (run.Injected()) {
      EXPECT_TRUE(error == ERR_NOTENOUGHMEM || found == ERR_NOTENOUGHMEM);
      EXPECT_TRUE(file || error == ERR_NOTENOUGHMEM);
      EXPECT_TRUE(!found || RecordIsEmpty(record));
    } else {
      EXPECT_TRUE(file);
      ASSERT_EQ(found, nullptr);
      EXPECT_STREQ(record.name, "f");
    }
    if (!found) {
      EXPECT_EQ(disk.FindClose(&record), nullptr);
    }
    file.reset();
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 3u) << "one file object, one find-data block, then the clean run";
}

// The service that could not be made used to be mounted as a null service, reported as success.
TEST(DiskAlloc, StartWithoutMemoryReportsItAndMountsNothing) {
  ASSERT_EQ(InitMountTable(8), nullptr);
  {
    FailingPoolsGuard pools;
    AllocationFailures::Arm(1, true);
    EXPECT_EQ(StartDiskService(), ERR_NOTENOUGHMEM);
  }
  EXPECT_EQ(UnmountService(""), nullptr);
  EXPECT_EQ(ShutdownMountTable(), nullptr);
}

}  // namespace
