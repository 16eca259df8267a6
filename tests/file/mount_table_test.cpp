#include <gtest/gtest.h>

#include <string>

#include "file/file_service.h"

namespace {

// Tells when it is deleted.
class RecordingService : public CFileService {
 public:
  explicit RecordingService(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~RecordingService() override {
    if (destroyed_) *destroyed_ = true;
  }

 private:
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
