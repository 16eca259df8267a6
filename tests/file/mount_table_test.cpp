#include <gtest/gtest.h>

#include <functional>
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
  CFile* Open(const char* path, u16, ErrorCode* error) override {
    Note("Open", path);
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

// Each entry point hands its service the rest of the path; with no service for a path it
// answers ERR_FILE (a rename across services, ERR_NOTIMPLEMENTED) and calls nobody.
TEST_F(MountTableTest, EntryPointsForwardTheRestOfThePathOrFindNoService) {
  RecordingService* pack = Mount("DATA\\");
  pack->answer = ERR_NOTFOUND;
  FindRecord record = {};
  const struct {
    std::function<ErrorCode()> call;
    const char* reached;  // the call the pack records, or null: it is the disk's
    ErrorCode unclaimed;  // the answer without a disk
  } rows[] = {
      {[] { return FileServiceTable.Delete("c:\\a"); }, nullptr, ERR_FILE},
      {[] { return FileServiceTable.CreateDir("DATA\\dir", "new"); }, "CreateDir:dir|new", 0},
      {[] { return FileServiceTable.RemoveDir("x", "old"); }, nullptr, ERR_FILE},
      {[] { return FileServiceTable.QueryInfo("q", INFO_FULLPATH, nullptr); }, nullptr, ERR_FILE},
      {[] { return FileServiceTable.Reserved13("DATA\\r", 1, 2); }, "Reserved13:r", 0},
      {[&] { return FileServiceTable.FindFirst(&record, "DATA\\FILES"); }, "FindFirst:FILES", 0},
      {[&] { return FileServiceTable.FindNext(&record); }, "FindNext:", 0},
      {[&] { return FileServiceTable.FindClose(&record); }, "FindClose:", 0},
      {[&] { return FileServiceTable.FindFirst(&record, "x"); }, nullptr, ERR_FILE},
      {[&] { return FileServiceTable.FindNext(&record); }, nullptr, ERR_FILE},
      {[] { return FileServiceTable.Rename("DATA\\a", "data\\b"); }, "Rename:a|b", 0},
      {[] { return FileServiceTable.Rename("a", "b\\c"); }, nullptr, ERR_NOTIMPLEMENTED},
      {[] { return FileServiceTable.Rename("DATA\\a", "C:\\a"); }, "", ERR_NOTIMPLEMENTED},
      {[] { return FileServiceTable.Rename("C:\\a", "DATA\\a"); }, "", ERR_NOTIMPLEMENTED},
  };
  for (bool withDisk : {false, true}) {
    RecordingService* disk = withDisk ? Mount("") : nullptr;
    for (const auto& row : rows) {
      const size_t packCalls = pack->calls.size(), diskCalls = disk ? disk->calls.size() : 0;
      const ErrorCode expected = !row.reached   ? (disk ? ERR_WHATAMESS : row.unclaimed)
                                 : *row.reached ? ERR_NOTFOUND
                                                : ERR_NOTIMPLEMENTED;
      EXPECT_EQ(row.call(), expected) << (row.reached ? row.reached : "disk") << withDisk;
      EXPECT_EQ(pack->calls.size(), packCalls + (row.reached && *row.reached));
      if (row.reached && *row.reached) {
        EXPECT_EQ(pack->calls.back(), row.reached);
      }
      EXPECT_EQ(disk ? disk->calls.size() : 0, diskCalls + (disk && !row.reached));
    }
    EXPECT_EQ(FileServiceTable.Exists("data\\y"), 1u);
    EXPECT_EQ(FileServiceTable.Exists("x"), withDisk ? 1u : 0u);
    ErrorCode error = ERR_WHATAMESS;
    CFile* file = FileServiceTable.Open("x", OPEN_READ | OPEN_SHARE_READ, &error);
    EXPECT_EQ(file != nullptr, withDisk);
    EXPECT_EQ(error, withDisk ? nullptr : ERR_WHATAMESS) << "left untouched";
    delete file;
  }
  EXPECT_EQ(FileServiceTable.Exists(nullptr), 0u);
  EXPECT_EQ(FileServiceTable.Delete(nullptr), ERR_FILE);
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
