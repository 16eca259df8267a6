#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/file_service.h"
#include "support/failing_pools.h"
#include "support/memory_file.h"

namespace {

// Records what reaches it; every answer carries the service's identity.
class RecordingService : public CFileService {
 public:
  explicit RecordingService(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~RecordingService() override {
    if (destroyed_) *destroyed_ = true;
  }
  CFile* Open(const char* path, u16 flags, ErrorCode* error) override {
    Note("Open", path);
    lastFlags = flags;
    if (error) *error = nullptr;
    return new MemoryFile(std::string(path));
  }
  u32 Exists(const char* path) override {
    Note("Exists", path);
    return 1;
  }
  ErrorCode Delete(const char* path) override { return Note("Delete", path); }
  ErrorCode Rename(const char* from, const char* to) override {
    return Note("Rename", std::string(from) + "|" + to);
  }
  ErrorCode CreateDir(const char* parent, const char* name) override {
    return Note("CreateDir", std::string(parent) + "|" + name);
  }
  ErrorCode RemoveDir(const char* parent, const char* name) override {
    return Note("RemoveDir", std::string(parent) + "|" + name);
  }
  ErrorCode FindFirst(FindRecord* record, const char* directory) override {
    record->service = this;
    return Note("FindFirst", directory);
  }
  ErrorCode FindNext(FindRecord*) override { return Note("FindNext", ""); }
  ErrorCode FindClose(FindRecord*) override { return Note("FindClose", ""); }
  ErrorCode QueryInfo(const char* path, u32, void*) override { return Note("QueryInfo", path); }
  ErrorCode Reserved13(const char* path, u32, u32) override { return Note("Reserved13", path); }

  std::vector<std::string> calls;
  u16 lastFlags = 0;
  // Returned by every ErrorCode operation, so a test can tell which service answered.
  ErrorCode answer = ERR_WHATAMESS;

 private:
  ErrorCode Note(const char* what, const std::string& path) {
    calls.push_back(std::string(what) + ":" + path);
    return answer;
  }
  bool* destroyed_;
};

class MountTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitMountTable(8), nullptr); }
  void TearDown() override { ShutdownMountTable(); }

  // Mounts a new recording service; the table owns it from then on.
  RecordingService* Mount(const char* prefix, bool* destroyed = nullptr) {
    RecordingService* service = new RecordingService(destroyed);
    EXPECT_EQ(MountService(prefix, service), nullptr);
    return service;
  }

  static std::string Resolve(const char* path, CFileService** service) {
    *service = ResolvePath(&path);
    return path;
  }
};

}  // namespace

TEST_F(MountTableTest, LongestPrefixWinsLetterCaseIgnoredAndTheRestIsPassedOn) {
  RecordingService* deep = Mount("DATA\\FILES\\");  // mounted before its shorter prefix
  RecordingService* pack = Mount("DATA\\");
  RecordingService* first = Mount("D\\");
  Mount("d\\");  // equal prefixes: the first mounted serves
  const struct {
    const char* path;
    CFileService* service;
    const char* rest;
  } rows[] = {
      {"data\\Patch.ini", pack, "Patch.ini"},
      {"Data\\files\\x.dat", deep, "x.dat"},
      {"d\\y", first, "y"},
      {"DATA", nullptr, "DATA"},
      {"DAT", nullptr, "DAT"},
      {"DATAX\\y", nullptr, "DATAX\\y"},
  };
  for (bool withDisk : {false, true}) {
    RecordingService* disk = withDisk ? Mount("") : nullptr;
    for (const auto& row : rows) {
      CFileService* got;
      EXPECT_EQ(Resolve(row.path, &got), row.rest);
      EXPECT_EQ(got, row.service ? row.service : disk) << row.path;
    }
  }
  // Unmounting takes only an exactly consumed prefix, in the order of mounting, and hands the
  // service back undeleted.
  EXPECT_EQ(UnmountService("DATA"), nullptr);
  EXPECT_EQ(UnmountService("DATA\\x"), nullptr);
  EXPECT_EQ(UnmountService(nullptr), nullptr);
  EXPECT_EQ(UnmountService("d\\"), first);
  CFileService* second = UnmountService("D\\");
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(UnmountService("D\\"), nullptr);
  delete first;
  delete second;
}

TEST_F(MountTableTest, EntryPointsForwardTheRestOfThePath) {
  RecordingService* disk = Mount("");
  RecordingService* pack = Mount("DATA\\");
  pack->answer = ERR_NOTFOUND;
  ErrorCode error = ERR_WHATAMESS;
  CFile* file = FileServiceTable.Open("DATA\\Patch.ini", OPEN_READ | OPEN_SHARE_READ, &error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(pack->lastFlags, OPEN_READ | OPEN_SHARE_READ);
  delete file;
  EXPECT_EQ(FileServiceTable.Delete("c:\\a"), ERR_WHATAMESS);
  EXPECT_EQ(FileServiceTable.CreateDir("DATA\\dir", "new"), ERR_NOTFOUND);
  EXPECT_EQ(FileServiceTable.RemoveDir("x", "old"), ERR_WHATAMESS);
  EXPECT_EQ(FileServiceTable.Exists("data\\y"), 1u);
  EXPECT_EQ(FileServiceTable.QueryInfo("q", INFO_FULLPATH, nullptr), ERR_WHATAMESS);
  EXPECT_EQ(FileServiceTable.Reserved13("DATA\\r", 1, 2), ERR_NOTFOUND);
  FindRecord record = {};
  EXPECT_EQ(FileServiceTable.FindFirst(&record, "DATA\\FILES"), ERR_NOTFOUND);
  EXPECT_EQ(record.service, pack);
  EXPECT_EQ(FileServiceTable.FindNext(&record), ERR_NOTFOUND);
  EXPECT_EQ(FileServiceTable.FindClose(&record), ERR_NOTFOUND);
  EXPECT_EQ(FileServiceTable.Rename("a", "b\\c"), ERR_WHATAMESS);
  EXPECT_EQ(FileServiceTable.Rename("DATA\\a", "data\\b"), ERR_NOTFOUND);
  // Across services a rename is not implemented and reaches no service.
  EXPECT_EQ(FileServiceTable.Rename("DATA\\a", "C:\\a"), ERR_NOTIMPLEMENTED);
  EXPECT_EQ(FileServiceTable.Rename("C:\\a", "DATA\\a"), ERR_NOTIMPLEMENTED);

  EXPECT_EQ(pack->calls, (std::vector<std::string>{"Open:Patch.ini", "CreateDir:dir|new",
                                                   "Exists:y", "Reserved13:r", "FindFirst:FILES",
                                                   "FindNext:", "FindClose:", "Rename:a|b"}));
  EXPECT_EQ(disk->calls, (std::vector<std::string>{"Delete:c:\\a", "RemoveDir:x|old", "QueryInfo:q",
                                                   "Rename:a|b\\c"}));
}

TEST_F(MountTableTest, UnclaimedPathsGetTheFileErrorAndNoServiceIsCalled) {
  RecordingService* pack = Mount("DATA\\");
  ErrorCode error = ERR_WHATAMESS;
  EXPECT_EQ(FileServiceTable.Open("x", OPEN_READ, &error), nullptr);
  EXPECT_EQ(error, ERR_WHATAMESS) << "left untouched";
  EXPECT_EQ(FileServiceTable.Open("x", OPEN_READ, nullptr), nullptr);
  EXPECT_EQ(FileServiceTable.Rename("x", "y"), ERR_NOTIMPLEMENTED);
  EXPECT_EQ(FileServiceTable.Exists("x"), 0u);
  EXPECT_EQ(FileServiceTable.Exists(nullptr), 0u);
  FindRecord record = {};
  record.service = pack;  // left over from an earlier search
  const ErrorCode answers[] = {FileServiceTable.Delete("x"),
                               FileServiceTable.Delete(nullptr),
                               FileServiceTable.CreateDir("x", "y"),
                               FileServiceTable.RemoveDir("x", "y"),
                               FileServiceTable.QueryInfo("x", INFO_FULLPATH, nullptr),
                               FileServiceTable.Reserved13("x", 0, 0),
                               FileServiceTable.FindFirst(&record, "x"),
                               FileServiceTable.FindNext(&record),
                               FileServiceTable.FindClose(&record)};
  for (ErrorCode answer : answers) EXPECT_EQ(answer, ERR_FILE);
  EXPECT_EQ(record.service, nullptr);
  EXPECT_TRUE(pack->calls.empty());
}

TEST_F(MountTableTest, RefusedMountsKeepTheTableAsItIs) {
  std::vector<RecordingService*> mounted;
  for (const char* prefix : {"A", "B", "C", "D", "E", "F", "G", "H"})
    mounted.push_back(Mount(prefix));
  RecordingService extra;
  EXPECT_EQ(MountService("", &extra), ERR_OUTOFRANGE);
  EXPECT_EQ(MountService(nullptr, &extra), ERR_BADPARAMS);
  EXPECT_EQ(MountService("", nullptr), ERR_BADPARAMS);
  CFileService* got;
  EXPECT_EQ(Resolve("Hx", &got), "x");
  EXPECT_EQ(got, mounted[7]);
  EXPECT_EQ(Resolve("zz", &got), "zz");
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(InitMountTable(0x10000), ERR_OUTOFRANGE) << "capacity beyond 16 bits";
  EXPECT_EQ(MountService("", &extra), ERR_OUTOFRANGE);
  EXPECT_EQ(InitMountTable(0xFFFF), nullptr);
  Mount("");
}

// Regressions: one service mounted under two prefixes was deleted twice, and initialising again
// dropped the old table with its services still in it.
TEST_F(MountTableTest, ShutdownAndInitialisingAgainDeleteWhatIsMountedOnce) {
  bool diskGone = false, packGone = false, againGone = false;
  RecordingService* disk = Mount("", &diskGone);
  ASSERT_EQ(MountService("C:\\", disk), nullptr);
  RecordingService* pack = Mount("DATA\\", &packGone);
  EXPECT_EQ(UnmountService("DATA\\"), pack);
  EXPECT_EQ(ShutdownMountTable(), nullptr);
  EXPECT_TRUE(diskGone);
  EXPECT_FALSE(packGone);
  delete pack;
  EXPECT_EQ(ShutdownMountTable(), nullptr) << "a second shutdown finds nothing to do";
  ASSERT_EQ(InitMountTable(8), nullptr);
  Mount("", &againGone);
  EXPECT_EQ(InitMountTable(4), nullptr);
  EXPECT_TRUE(againGone);
  const char* path = "x";
  EXPECT_EQ(ResolvePath(&path), nullptr);
}

TEST_F(MountTableTest, ExhaustedPoolLeavesAnEmptyTableThatRefusesMounts) {
  ShutdownMountTable();
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    ErrorCode error = InitMountTable(8);
    run.Disarm();
    RecordingService service;
    EXPECT_EQ(error, run.Injected() ? ERR_NOTENOUGHMEMORY : nullptr);
    EXPECT_EQ(MountService("", &service), run.Injected() ? ERR_OUTOFRANGE : nullptr);
    EXPECT_EQ(UnmountService(""), run.Injected() ? nullptr : &service);
    ShutdownMountTable();
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 2u);
}
