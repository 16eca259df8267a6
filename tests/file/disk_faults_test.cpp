// Failures of the operating system and of the memory pools, injected through the disk layer's
// table and a failing pointer pool.
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "file/disk_file.h"
#include "file/disk_os.h"
#include "file/disk_test_support.h"

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
};

// Every operation with the entry it calls and its own fallback code.
struct Operation {
  const char* name;
  OsCall call;
  ErrorCode fallback;
  std::function<ErrorCode(CDiskFS&, CFile*, const TempDir&)> run;
};

std::vector<Operation> Operations() {
  auto open = [](CDiskFS& disk, CFile*, const TempDir& dir) {
    ErrorCode error = nullptr;
    std::unique_ptr<CFile> file(disk.Open(dir.Path("f").c_str(), OPEN_READ, &error));
    EXPECT_FALSE(file);
    return error;
  };
  auto find = [](CDiskFS& disk, CFile*, const TempDir& dir) {
    FindRecord record;
    ErrorCode error = disk.FindFirst(&record, dir.Path().c_str());
    if (record.data) disk.FindClose(&record);
    return error;
  };
  auto findNext = [](CDiskFS& disk, CFile*, const TempDir& dir) {
    FindRecord record;
    ErrorCode error = disk.FindFirst(&record, dir.Path().c_str());
    while (!error) error = disk.FindNext(&record);
    if (record.data) disk.FindClose(&record);
    return error;
  };
  auto findClose = [](CDiskFS& disk, CFile*, const TempDir& dir) {
    FindRecord record;
    EXPECT_EQ(disk.FindFirst(&record, dir.Path().c_str()), nullptr);
    ErrorCode error = disk.FindClose(&record);
    EXPECT_TRUE(RecordIsEmpty(record));
    return error;
  };
  return {
      {"Read", kRead, ERR_READFAIL,
       [](CDiskFS&, CFile* f, const TempDir&) {
         char b[4];
         return f->Read(b, 4, nullptr);
       }},
      {"Write", kWrite, ERR_WRITEFAIL,
       [](CDiskFS&, CFile* f, const TempDir&) { return f->Write("abc", 3, nullptr); }},
      {"Seek", kSeek, ERR_SEEKFAIL,
       [](CDiskFS&, CFile* f, const TempDir&) { return f->Seek(1, SEEK_FROM_START); }},
      {"Flush", kFlush, ERR_FLUSHFAIL,
       [](CDiskFS&, CFile* f, const TempDir&) { return f->Flush(); }},
      {"Truncate", kSetEnd, ERR_TRUNCFAIL,
       [](CDiskFS&, CFile* f, const TempDir&) { return f->Truncate(); }},
      {"Open", kOpen, ERR_OPENFAIL, open},
      {"Delete", kRemove, ERR_FILE,
       [](CDiskFS& d, CFile*, const TempDir& dir) { return d.Delete(dir.Path("f").c_str()); }},
      {"Rename", kRename, ERR_FILE,
       [](CDiskFS& d, CFile*, const TempDir& dir) {
         return d.Rename(dir.Path("f").c_str(), dir.Path("g").c_str());
       }},
      {"Replace", kReplace, ERR_FILE,
       [](CDiskFS& d, CFile*, const TempDir& dir) {
         return d.Replace(dir.Path("f").c_str(), dir.Path("g").c_str());
       }},
      {"CreateDir", kMakeDir, ERR_FILE,
       [](CDiskFS& d, CFile*, const TempDir& dir) { return d.CreateDir(dir.Path().c_str(), "n"); }},
      {"RemoveDir", kRemoveDir, ERR_FILE,
       [](CDiskFS& d, CFile*, const TempDir& dir) { return d.RemoveDir(dir.Path().c_str(), "d"); }},
      {"FindFirst", kFindFirst, ERR_FILE, find},
      {"FindNext", kFindNext, ERR_FILE, findNext},
      {"FindClose", kFindEnd, ERR_FILE, findClose},
  };
}

TEST(DiskErrors, EveryOperationTranslatesSystemErrorsWithItsFallback) {
  TempDir dir;
  dir.Write("f", "data");
  fs::create_directories(dir.Native("d"));
  CDiskFS disk;
  for (const Operation& operation : Operations()) {
    for (const Translation& row : kTranslations) {
      ScopedOsFaults os;
      std::unique_ptr<CFile> file(disk.Open(dir.Path("f").c_str(), 0xC3, nullptr));
      ASSERT_TRUE(file);
      os.Fail(operation.call, row.osError);
      ErrorCode expected = row.code ? row.code : operation.fallback;
      ErrorCode got = operation.run(disk, file.get(), dir);
      EXPECT_EQ(got, expected) << operation.name << " with system error " << row.osError << ": "
                               << ErrorText(got);
      os.Stop();
    }
  }
  EXPECT_EQ(dir.Read("f"), "data") << "injected failures never reached the file";
}

// A failed call whose error number reads 0 was reported as success.
TEST(DiskErrors, FailedCallWithErrorNumberZeroIsNotSuccess) {
  TempDir dir;
  dir.Write("f", "data");
  CDiskFS disk;
  ScopedOsFaults os;
  std::unique_ptr<CFile> file(disk.Open(dir.Path("f").c_str(), OPEN_READ, nullptr));
  ASSERT_TRUE(file);
  os.Fail(kRead, OS_ERROR_SUCCESS);
  char b[4];
  EXPECT_EQ(file->Read(b, 4, nullptr), ERR_READFAIL);
  os.Fail(kOpen, OS_ERROR_SUCCESS);
  ErrorCode error = nullptr;
  EXPECT_FALSE(disk.Open(dir.Path("f").c_str(), OPEN_READ, &error));
  EXPECT_EQ(error, ERR_OPENFAIL);
  os.Fail(kRemove, OS_ERROR_SUCCESS);
  EXPECT_EQ(disk.Delete(dir.Path("f").c_str()), ERR_FILE);
  // Only a seek may legitimately answer the failure value with error 0.
  os.Fail(kSeek, OS_ERROR_SUCCESS);
  EXPECT_EQ(file->Seek(0, SEEK_FROM_START), nullptr);
}

TEST(DiskErrors, CreateDirJoinedPathOver255CharactersIsRefused) {
  CDiskFS disk;
  ScopedOsFaults os;
  os.Fail(kMakeDir, OS_ERROR_ACCESS_DENIED);
  std::string parent(250, 'p');
  EXPECT_EQ(disk.CreateDir(parent.c_str(), "12345"), ERR_BADPARAMS);
  EXPECT_EQ(disk.RemoveDir(parent.c_str(), "12345"), ERR_BADPARAMS);
  EXPECT_EQ(disk.CreateDir((parent + "\\").c_str(), "12345"), ERR_BADPARAMS);
  EXPECT_EQ(os.TotalCalls(), 0u);
  EXPECT_EQ(disk.CreateDir(parent.c_str(), "1234"), ERR_ACCESSDENIED) << "255 still fits";
  EXPECT_EQ(os.Calls(kMakeDir), 1u);
}

TEST(DiskErrors, FindFirstPatternOver511CharactersIsRefused) {
  CDiskFS disk;
  ScopedOsFaults os;
  os.Fail(kFindFirst, OS_ERROR_PATH_NOT_FOUND);
  FindRecord record;
  EXPECT_EQ(disk.FindFirst(&record, std::string(508, 'd').c_str()), ERR_BADPARAMS);
  EXPECT_TRUE(RecordIsEmpty(record));
  EXPECT_EQ(os.TotalCalls(), 0u);
  EXPECT_EQ(disk.FindFirst(&record, std::string(507, 'd').c_str()), ERR_PATHNOTFOUND);
  EXPECT_EQ(os.Calls(kFindFirst), 1u);
}

// A reported length of 256 put the terminating zero one byte past the 256-byte buffer.
TEST(DiskErrors, QueryInfoLengthOf256DoesNotWritePastTheBuffer) {
  CDiskFS disk;
  ScopedOsFaults os;
  char buffer[257];
  std::memset(buffer, 'z', sizeof(buffer));
  os.Fail(kFullPath, OS_ERROR_SUCCESS);
  faults.fullPathResult = 256;
  EXPECT_EQ(disk.QueryInfo("x", INFO_FULLPATH, buffer), ERR_UNKNOWN);
  EXPECT_EQ(buffer[256], 'z');
  faults.fullPathResult = 255;
  EXPECT_EQ(disk.QueryInfo("x", INFO_FULLPATH, buffer), nullptr);
  EXPECT_EQ(buffer[255], '\0');
  // A failed call (length 0) was reported as success with an empty path.
  os.Fail(kFullPath, OS_ERROR_INVALID_PARAMETER);
  faults.fullPathResult = 0;
  EXPECT_EQ(disk.QueryInfo("x", INFO_FULLPATH, buffer), ERR_UNKNOWN);
  os.Fail(kFullPath, OS_ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(disk.QueryInfo("x", INFO_FULLPATH, buffer), ERR_PATHNOTFOUND);
}

}  // namespace
