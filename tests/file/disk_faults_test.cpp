// Failures of the operating system and of the memory pools, injected through the disk layer's
// table and the failing pools.
#include <cstring>
#include <functional>
#include <memory>

#include "file/disk_file.h"
#include "file/disk_os.h"
#include "file/disk_test_support.h"
#include "support/failing_pools.h"

using namespace disk_test;

namespace {

struct Translation {
  u32 osError;
  ErrorCode code;  // null: the operation's fallback
};

const Translation kTranslations[] = {
    {OS_ERROR_FILE_NOT_FOUND, ERR_FILENOTFOUND},
    {OS_ERROR_PATH_NOT_FOUND, ERR_PATHNOTFOUND},
    {OS_ERROR_TOO_MANY_OPEN_FILES, ERR_TOOMANYOPENFILES},
    {OS_ERROR_ACCESS_DENIED, ERR_ACCESSDENIED},
    {OS_ERROR_INVALID_DRIVE, ERR_VOLUMENOTFOUND},
    {OS_ERROR_NO_MORE_FILES, ERR_NOMOREFILES},
    {OS_ERROR_WRITE_PROTECT, ERR_WRITEPROTECTED},
    {OS_ERROR_NOT_READY, ERR_NOTREADY},
    {OS_ERROR_NOT_DOS_DISK, ERR_BADVOLUME},
    {OS_ERROR_SHARING_VIOLATION, ERR_SHARING},
    {OS_ERROR_FILE_EXISTS, ERR_FILEEXIST},
    {OS_ERROR_DISK_FULL, ERR_DISKFULL},
    {OS_ERROR_NEGATIVE_SEEK, ERR_SEEKFAIL},
    {OS_ERROR_ALREADY_EXISTS, ERR_ALREADYEXISTS},
    {OS_ERROR_INVALID_HANDLE, nullptr},
    {OS_ERROR_DIR_NOT_EMPTY, nullptr},
    {9999, nullptr},
    {OS_ERROR_SUCCESS, nullptr},  // failed all the same
};

TEST(DiskErrors, EveryOperationTranslatesSystemErrorsWithItsFallback) {
  TempDir dir;
  dir.Write("f", "data");
  fs::create_directories(dir.Native("d"));
  const std::string f = dir.Path("f"), g = dir.Path("g"), root = dir.Path();
  CDiskFS disk;
  auto list = [&](bool next, bool close) {
    FindRecord record;
    ErrorCode error = disk.FindFirst(&record, root.c_str());
    // Bounded: a failure read as success must not list forever.
    for (int n = 0; next && !error && n < 10; ++n) error = disk.FindNext(&record);
    if (close) {
      EXPECT_EQ(error, nullptr);
      error = disk.FindClose(&record);
      EXPECT_TRUE(RecordIsEmpty(record));
    }
    if (record.data) disk.FindClose(&record);
    return error;
  };
  char b[4];
  // Every operation with the entry it calls and its own fallback code.
  const struct {
    OsCall call;
    ErrorCode fallback;
    std::function<ErrorCode(CFile*)> run;
  } operations[] = {
      {kRead, ERR_READFAIL, [&](CFile* file) { return file->Read(b, 4, nullptr); }},
      {kWrite, ERR_WRITEFAIL, [&](CFile* file) { return file->Write("abc", 3, nullptr); }},
      {kSeek, ERR_SEEKFAIL, [&](CFile* file) { return file->Seek(1, SEEK_FROM_START); }},
      {kFlush, ERR_FLUSHFAIL, [&](CFile* file) { return file->Flush(); }},
      {kSetEnd, ERR_TRUNCFAIL, [&](CFile* file) { return file->Truncate(); }},
      {kOpen, ERR_OPENFAIL,
       [&](CFile*) {
         ErrorCode error = nullptr;
         EXPECT_FALSE(std::unique_ptr<CFile>(disk.Open(f.c_str(), OPEN_READ, &error)));
         return error;
       }},
      {kRemove, ERR_FILE, [&](CFile*) { return disk.Delete(f.c_str()); }},
      {kRename, ERR_FILE, [&](CFile*) { return disk.Rename(f.c_str(), g.c_str()); }},
      {kReplace, ERR_FILE, [&](CFile*) { return disk.Replace(f.c_str(), g.c_str()); }},
      {kMakeDir, ERR_FILE, [&](CFile*) { return disk.CreateDir(root.c_str(), "n"); }},
      {kRemoveDir, ERR_FILE, [&](CFile*) { return disk.RemoveDir(root.c_str(), "d"); }},
      {kFindFirst, ERR_FILE, [&](CFile*) { return list(false, false); }},
      {kFindNext, ERR_FILE, [&](CFile*) { return list(true, false); }},
      {kFindEnd, ERR_FILE, [&](CFile*) { return list(false, true); }},
  };
  for (const auto& operation : operations) {
    for (const Translation& row : kTranslations) {
      ScopedOsFaults os;
      std::unique_ptr<CFile> file(disk.Open(f.c_str(), 0xC3, nullptr));
      ASSERT_TRUE(file);
      os.Fail(operation.call, row.osError);
      ErrorCode got = operation.run(file.get());
      // Only a seek may legitimately answer the failure value with error 0.
      const bool seekSucceeds = row.osError == OS_ERROR_SUCCESS && operation.call == kSeek;
      EXPECT_EQ(got, row.code || seekSucceeds ? row.code : operation.fallback)
          << "entry " << operation.call << " with system error " << row.osError << ": "
          << ErrorText(got);
    }
  }
  EXPECT_EQ(dir.Read("f"), "data") << "injected failures never reached the file";
}

// Regressions: a failed call whose error number reads 0 was reported as success (every entry
// above has its row for it), a failed FullPath (length 0) read as success with an empty path,
// and a length of 256 put the terminating zero one byte past the 256-byte buffer.
TEST(DiskErrors, FailuresWithErrorNumberZeroOrAFullPathThatDoesNotFitAreNotSuccess) {
  CDiskFS disk;
  ScopedOsFaults os;
  char b[257];
  const struct {
    u32 error, length;
    ErrorCode expected;
  } rows[] = {{OS_ERROR_SUCCESS, 256, ERR_UNKNOWN},
              {OS_ERROR_SUCCESS, 255, nullptr},
              {OS_ERROR_INVALID_PARAMETER, 0, ERR_UNKNOWN},
              {OS_ERROR_PATH_NOT_FOUND, 0, ERR_PATHNOTFOUND}};
  for (const auto& row : rows) {
    std::memset(b, 'z', sizeof(b));
    os.Fail(kFullPath, row.error, row.length);
    EXPECT_EQ(disk.QueryInfo("x", INFO_FULLPATH, b), row.expected) << row.length;
    EXPECT_EQ(b[256], 'z');
    EXPECT_EQ(b[255], row.expected ? 'z' : '\0');
  }
}

// Every allocation of opening and listing may fail: the handle of a file whose object could
// not be made is closed (Windows refuses to delete a file still open), a listing without its
// find-data block leaves the record empty, and nothing is reported as success.
TEST(DiskAlloc, EveryAllocationOfOpenAndListingMayFail) {
  TempDir dir;
  dir.Write("f", "data");
  CDiskFS disk;
  ScopedOsFaults os;
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    ErrorCode error = nullptr;
    std::unique_ptr<CFile> file(disk.Open(dir.Path("f").c_str(), OPEN_READ, &error));
    FindRecord record;
    std::memset(&record, 0x5A, sizeof(record));
    ErrorCode found = disk.FindFirst(&record, dir.Path().c_str());
    run.Disarm();
    EXPECT_EQ(error, file ? nullptr : ERR_NOTENOUGHMEM);
    EXPECT_EQ(found, record.data ? nullptr : ERR_NOTENOUGHMEM);
    EXPECT_EQ(!file + !record.data, run.Injected() ? 1 : 0);
    if (found) {
      EXPECT_TRUE(RecordIsEmpty(record));
    } else {
      EXPECT_STREQ(record.name, "f");
      EXPECT_EQ(disk.FindClose(&record), nullptr);
    }
    file.reset();
    EXPECT_EQ(os.Calls(kOpen), os.Calls(kClose));
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 3u) << "one file object, one find-data block, then the clean run";
  EXPECT_EQ(disk.Delete(dir.Path("f").c_str()), nullptr);
}

// The service that could not be made used to be mounted as a null service, and a full table
// left the new service unowned; both were reported as success.
TEST(DiskService, StartWithoutMemoryOrRoomReportsItAndMountsNothing) {
  for (u32 capacity : {8u, 0u}) {
    ASSERT_EQ(InitMountTable(capacity), nullptr);
    {
      AllocationFailureRun run(1, true);
      if (capacity) run.Arm();
      EXPECT_EQ(StartDiskService(), capacity ? ERR_NOTENOUGHMEM : ERR_OUTOFRANGE);
      EXPECT_EQ(run.OutstandingBlocks(), 0);
    }
    EXPECT_EQ(UnmountService(""), nullptr);
    EXPECT_EQ(ShutdownMountTable(), nullptr);
  }
}

}  // namespace
