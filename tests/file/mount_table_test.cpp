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
  RecordingService* disk = Mount("");
  RecordingService* deep = Mount("DATA\\FILES\\");  // mounted before its shorter prefix
  RecordingService* pack = Mount("DATA\\");
  CFileService* got;
  EXPECT_EQ(Resolve("data\\Patch.ini", &got), "Patch.ini");
  EXPECT_EQ(got, pack);
  EXPECT_EQ(Resolve("Data\\files\\x.dat", &got), "x.dat");
  EXPECT_EQ(got, deep);
  EXPECT_EQ(Resolve("DATA", &got), "DATA");
  EXPECT_EQ(got, disk);
  EXPECT_EQ(Resolve("DATAX\\y", &got), "DATAX\\y");
  EXPECT_EQ(got, disk);
  EXPECT_EQ(Resolve("C:\\Games\\x", &got), "C:\\Games\\x");
  EXPECT_EQ(got, disk);
}

TEST_F(MountTableTest, WithoutAnEmptyPrefixUnclaimedPathsResolveToNothing) {
  Mount("DATA\\");
  const char* path = "other\\file";
  EXPECT_EQ(ResolvePath(&path), nullptr);
  EXPECT_STREQ(path, "other\\file");
  path = "DAT";
  EXPECT_EQ(ResolvePath(&path), nullptr) << "a path shorter than the prefix";
}

TEST_F(MountTableTest, EqualPrefixesServeTheFirstMountedAndUnmountInThatOrder) {
  RecordingService* first = Mount("DATA\\");
  RecordingService* second = Mount("data\\");
  RecordingService* third = Mount("Data\\");
  Mount("D");
  Mount("DATA\\Z");
  CFileService* got;
  Resolve("DATA\\a", &got);
  EXPECT_EQ(got, first);
  EXPECT_EQ(UnmountService("DATA\\"), first);
  Resolve("DATA\\a", &got);
  EXPECT_EQ(got, second);
  EXPECT_EQ(UnmountService("data\\"), second);
  EXPECT_EQ(UnmountService("dAtA\\"), third);
  Resolve("DATA\\a", &got);
  EXPECT_NE(got, third);
  delete first;
  delete second;
  delete third;
}

TEST_F(MountTableTest, UnmountRemovesOnlyAnExactlyConsumedPrefix) {
  bool diskGone = false;
  RecordingService* disk = Mount("", &diskGone);
  RecordingService* pack = Mount("DATA\\");
  EXPECT_EQ(UnmountService("DATA"), nullptr) << "resolves to the empty prefix, not consumed";
  EXPECT_EQ(UnmountService("DATA\\x"), nullptr);
  EXPECT_EQ(UnmountService(nullptr), nullptr);
  CFileService* got;
  Resolve("DATA\\x", &got);
  EXPECT_EQ(got, pack);
  EXPECT_EQ(UnmountService(""), disk);
  EXPECT_FALSE(diskGone) << "unmounting hands the service back undeleted";
  Resolve("C:\\x", &got);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(UnmountService(""), nullptr);
  delete disk;
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

  EXPECT_EQ(pack->calls, (std::vector<std::string>{"Open:Patch.ini", "CreateDir:dir|new",
                                                   "Exists:y", "Reserved13:r", "FindFirst:FILES",
                                                   "FindNext:", "FindClose:", "Rename:a|b"}));
  EXPECT_EQ(disk->calls, (std::vector<std::string>{"Delete:c:\\a", "RemoveDir:x|old", "QueryInfo:q",
                                                   "Rename:a|b\\c"}));
}

TEST_F(MountTableTest, RenameAcrossServicesIsNotImplementedAndReachesNoService) {
  RecordingService* disk = Mount("");
  RecordingService* pack = Mount("DATA\\");
  EXPECT_EQ(FileServiceTable.Rename("DATA\\a", "C:\\a"), ERR_NOTIMPLEMENTED);
  EXPECT_EQ(FileServiceTable.Rename("C:\\a", "DATA\\a"), ERR_NOTIMPLEMENTED);
  EXPECT_TRUE(disk->calls.empty());
  EXPECT_TRUE(pack->calls.empty());
}

TEST_F(MountTableTest, UnclaimedPathsGetTheFileErrorAndNoServiceIsCalled) {
  RecordingService* pack = Mount("DATA\\");
  ErrorCode error = ERR_WHATAMESS;
  EXPECT_EQ(FileServiceTable.Open("x", OPEN_READ, &error), nullptr);
  EXPECT_EQ(error, ERR_WHATAMESS) << "left untouched";
  EXPECT_EQ(FileServiceTable.Open("x", OPEN_READ, nullptr), nullptr);
  EXPECT_EQ(FileServiceTable.Delete("x"), ERR_FILE);
  EXPECT_EQ(FileServiceTable.Rename("x", "y"), ERR_NOTIMPLEMENTED);
  EXPECT_EQ(FileServiceTable.CreateDir("x", "y"), ERR_FILE);
  EXPECT_EQ(FileServiceTable.RemoveDir("x", "y"), ERR_FILE);
  EXPECT_EQ(FileServiceTable.Exists("x"), 0u);
  EXPECT_EQ(FileServiceTable.Exists(nullptr), 0u);
  EXPECT_EQ(FileServiceTable.Delete(nullptr), ERR_FILE);
  EXPECT_EQ(FileServiceTable.QueryInfo("x", INFO_FULLPATH, nullptr), ERR_FILE);
  EXPECT_EQ(FileServiceTable.Reserved13("x", 0, 0), ERR_FILE);
  FindRecord record = {};
  record.service = pack;  // left over from an earlier search
  EXPECT_EQ(FileServiceTable.FindFirst(&record, "x"), ERR_FILE);
  EXPECT_EQ(record.service, nullptr);
  EXPECT_EQ(FileServiceTable.FindNext(&record), ERR_FILE);
  EXPECT_EQ(FileServiceTable.FindClose(&record), ERR_FILE);
  EXPECT_TRUE(pack->calls.empty());
}

TEST_F(MountTableTest, FullTableRefusesTheMountAndKeepsWhatItHas) {
  std::vector<RecordingService*> mounted;
  const char* prefixes[] = {"A", "B", "C", "D", "E", "F", "G", "H"};
  for (const char* prefix : prefixes) mounted.push_back(Mount(prefix));
  RecordingService extra;
  EXPECT_EQ(MountService("", &extra), ERR_OUTOFRANGE);
  CFileService* got;
  EXPECT_EQ(Resolve("Hx", &got), "x");
  EXPECT_EQ(got, mounted[7]);
  EXPECT_EQ(Resolve("zz", &got), "zz");
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(MountService(nullptr, &extra), ERR_BADPARAMS);
}

TEST_F(MountTableTest, NullServiceIsRefused) {
  EXPECT_EQ(MountService("", nullptr), ERR_BADPARAMS);
  const char* path = "x";
  EXPECT_EQ(ResolvePath(&path), nullptr);
}

TEST_F(MountTableTest, ShutdownDeletesWhatIsStillMounted) {
  bool diskGone = false, packGone = false;
  Mount("", &diskGone);
  RecordingService* pack = Mount("DATA\\", &packGone);
  EXPECT_EQ(UnmountService("DATA\\"), pack);
  EXPECT_EQ(ShutdownMountTable(), nullptr);
  EXPECT_TRUE(diskGone);
  EXPECT_FALSE(packGone);
  delete pack;
  EXPECT_EQ(ShutdownMountTable(), nullptr) << "a second shutdown finds nothing to do";
}

// One service mounted under two prefixes was deleted twice.
TEST_F(MountTableTest, RegressionServiceMountedTwiceIsDeletedOnce) {
  bool gone = false;
  RecordingService* service = Mount("", &gone);
  ASSERT_EQ(MountService("C:\\", service), nullptr);
  EXPECT_EQ(ShutdownMountTable(), nullptr);
  EXPECT_TRUE(gone);
}

// Initialising again dropped the old table with its services still in it.
TEST_F(MountTableTest, RegressionInitialisingAgainReleasesTheOldTable) {
  bool gone = false;
  Mount("", &gone);
  EXPECT_EQ(InitMountTable(4), nullptr);
  EXPECT_TRUE(gone);
  const char* path = "x";
  EXPECT_EQ(ResolvePath(&path), nullptr);
  Mount("");
}

TEST_F(MountTableTest, CapacityBeyondSixteenBitsIsRefused) {
  EXPECT_EQ(InitMountTable(0x10000), ERR_OUTOFRANGE);
  RecordingService service;
  EXPECT_EQ(MountService("", &service), ERR_OUTOFRANGE);
  EXPECT_EQ(InitMountTable(0xFFFF), nullptr);
  Mount("");
}

TEST_F(MountTableTest, ExhaustedPoolLeavesAnEmptyTableThatRefusesMounts) {
  ShutdownMountTable();
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    run.Arm();
    ErrorCode error = InitMountTable(8);
    run.Disarm();
    RecordingService service;
    if (run.Injected()) {
      EXPECT_EQ(error, ERR_NOTENOUGHMEMORY);
      EXPECT_EQ(MountService("", &service), ERR_OUTOFRANGE);
    } else {
      EXPECT_EQ(error, nullptr);
      EXPECT_EQ(MountService("", &service), nullptr);
      EXPECT_EQ(UnmountService(""), &service);
    }
    ShutdownMountTable();
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 2u);
}
