#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <memory>

#include "file/disk_file.h"
#include "file/disk_os.h"
#include "file/disk_test_support.h"

using namespace disk_test;

namespace {

// Restores the working directory that a test changes.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const fs::path& path) : saved_(fs::current_path()) {
    fs::current_path(path);
  }
  ~ScopedCurrentDir() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

TEST(DiskFS, CreateDirAndRemoveDirJoinParentAndName) {
  TempDir dir;
  CDiskFS disk;
  EXPECT_EQ(disk.CreateDir(dir.Path().c_str(), "plain"), nullptr);
  EXPECT_EQ(disk.CreateDir((dir.Path() + "\\").c_str(), "slashed"), nullptr);
  EXPECT_TRUE(fs::is_directory(dir.Native("plain")));
  EXPECT_TRUE(fs::is_directory(dir.Native("slashed")));
  EXPECT_EQ(disk.CreateDir(dir.Path().c_str(), "plain"), ERR_ALREADYEXISTS);
  EXPECT_EQ(disk.CreateDir(dir.Path("none").c_str(), "x"), ERR_PATHNOTFOUND);

  dir.Write("slashed/f", "x");
  EXPECT_EQ(disk.RemoveDir(dir.Path().c_str(), "slashed"), ERR_FILE) << "not empty";
  EXPECT_EQ(disk.RemoveDir((dir.Path() + "\\").c_str(), "plain"), nullptr);
  EXPECT_FALSE(fs::exists(dir.Native("plain")));
  EXPECT_EQ(disk.RemoveDir(dir.Path().c_str(), "plain"), ERR_FILENOTFOUND);

  ScopedCurrentDir inside(dir.Root());
  EXPECT_EQ(disk.CreateDir("", "relative"), nullptr);
  EXPECT_TRUE(fs::is_directory(dir.Native("relative")));

  // Bad names, joined paths of more than 255 characters and patterns of more than 511 are
  // refused before any system call.
  ScopedOsFaults os;
  const std::string parent(250, 'p'), slashed = parent + "\\";
  const struct {
    const char *parent, *name;
  } refused[] = {{"somewhere", "a\\b"},
                 {"somewhere", "c:"},
                 {"somewhere", ":"},
                 {"somewhere", "\\"},
                 {nullptr, "x"},
                 {"x", nullptr},
                 {parent.c_str(), "12345"},
                 {slashed.c_str(), "12345"}};
  for (const auto& row : refused) {
    EXPECT_EQ(disk.CreateDir(row.parent, row.name), ERR_BADPARAMS) << row.name;
    EXPECT_EQ(disk.RemoveDir(row.parent, row.name), ERR_BADPARAMS) << row.name;
  }
  FindRecord record;
  EXPECT_EQ(disk.FindFirst(&record, nullptr), ERR_BADPARAMS);
  EXPECT_EQ(disk.FindFirst(&record, std::string(508, 'd').c_str()), ERR_BADPARAMS);
  EXPECT_TRUE(RecordIsEmpty(record));
  EXPECT_EQ(os.TotalCalls(), 0u);
  os.Fail(kMakeDir, OS_ERROR_ACCESS_DENIED);
  EXPECT_EQ(disk.CreateDir(parent.c_str(), "1234"), ERR_ACCESSDENIED) << "255 still fits";
  os.Fail(kFindFirst, OS_ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(disk.FindFirst(&record, std::string(507, 'd').c_str()), ERR_PATHNOTFOUND);
  EXPECT_EQ(os.TotalCalls(), 2u);
}

TEST(DiskFS, DeleteRenameAndExists) {
  TempDir dir;
  dir.Write("one", "first");
  dir.Write("two", "second");
  fs::create_directories(dir.Native("folder"));
  CDiskFS disk;
  EXPECT_EQ(disk.Exists(dir.Path("one").c_str()), 1u);
  EXPECT_EQ(disk.Exists(dir.Path("zero").c_str()), 0u);
  EXPECT_EQ(disk.Exists(dir.Path("folder").c_str()), 0u) << "a directory is not a file";
  // Paths beyond 127 characters are answered with no on every system.
  std::string name127(127 - dir.Path("").size() - 1, 'n');
  dir.Write(name127, "");
  dir.Write(name127 + "m", "");
  EXPECT_EQ(disk.Exists(dir.Path(name127).c_str()), 1u);
  EXPECT_EQ(disk.Exists(dir.Path(name127 + "m").c_str()), 0u);

  EXPECT_EQ(disk.Rename(dir.Path("one").c_str(), dir.Path("two").c_str()), ERR_ALREADYEXISTS);
  EXPECT_EQ(dir.Read("two"), "second");
  EXPECT_EQ(disk.Rename(dir.Path("one").c_str(), dir.Path("three").c_str()), nullptr);
  EXPECT_EQ(dir.Read("three"), "first");
  EXPECT_FALSE(fs::exists(dir.Native("one")));
  EXPECT_EQ(disk.Rename(dir.Path("one").c_str(), dir.Path("four").c_str()), ERR_FILENOTFOUND);
  // Replace takes the place of a file that exists, or of none.
  EXPECT_EQ(disk.Replace(dir.Path("three").c_str(), dir.Path("two").c_str()), nullptr);
  EXPECT_EQ(dir.Read("two"), "first");
  EXPECT_EQ(disk.Replace(dir.Path("two").c_str(), dir.Path("five").c_str()), nullptr);
  EXPECT_EQ(disk.Replace(dir.Path("two").c_str(), dir.Path("six").c_str()), ERR_FILENOTFOUND);
  EXPECT_EQ(disk.Replace(dir.Path("five").c_str(), dir.Path("folder").c_str()), ERR_ACCESSDENIED);
  EXPECT_EQ(dir.Read("five"), "first");
  EXPECT_EQ(disk.Rename(dir.Path("five").c_str(), dir.Path("two").c_str()), nullptr);

  EXPECT_EQ(disk.Delete(dir.Path("two").c_str()), nullptr);
  EXPECT_FALSE(fs::exists(dir.Native("two")));
  EXPECT_EQ(disk.Delete(dir.Path("two").c_str()), ERR_FILENOTFOUND);
  EXPECT_EQ(disk.Delete(dir.Path("gone\\two").c_str()), ERR_PATHNOTFOUND);
  EXPECT_EQ(disk.Delete(dir.Path("folder").c_str()), ERR_ACCESSDENIED);
}

// Errors the POSIX backend works out from errno must match what Windows reports.
TEST(DiskFS, SystemErrorsMatchWhatWindowsReports) {
  TempDir dir;
  dir.Write("file", "x");
  CDiskFS disk;
  ErrorCode error = nullptr;
  EXPECT_FALSE(disk.Open(dir.Path("file\\below").c_str(), OPEN_READ, &error));
  EXPECT_EQ(error, ERR_PATHNOTFOUND) << ErrorText(error);
  EXPECT_EQ(disk.RemoveDir(dir.Path().c_str(), "file"), ERR_FILE);
  EXPECT_TRUE(fs::exists(dir.Native("file")));
#ifndef _WIN32
  EXPECT_FALSE(disk.Open("C:\\x", OPEN_READ, &error));
  EXPECT_EQ(error, ERR_VOLUMENOTFOUND);
  // The lowest free descriptor becomes the limit, so the next open runs out.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  int probe = open("/dev/null", O_RDONLY);
  ASSERT_GE(probe, 0);
  close(probe);
  struct rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(probe);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  std::unique_ptr<CFile> file(disk.Open(dir.Path("file").c_str(), OPEN_READ, &error));
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(file);
  EXPECT_EQ(error, ERR_TOOMANYOPENFILES);
#endif
}

TEST(DiskFS, QueryInfoGivesTheFullPath) {
  TempDir dir;
  fs::create_directories(dir.Native("sub"));
  CDiskFS disk;
  char buffer[256];
  ScopedCurrentDir inside(dir.Native("sub"));
  ASSERT_EQ(disk.QueryInfo("..\\x.bin", INFO_FULLPATH, buffer), nullptr);
  std::string expected = Backslashed((fs::current_path().parent_path() / "x.bin").string());
  EXPECT_EQ(Backslashed(buffer), expected);
  EXPECT_EQ(disk.QueryInfo("x", INFO_FULLPATH + 1, buffer), ERR_NOTIMPLEMENTED);
  std::string tooLong(300, 'q');
  EXPECT_EQ(disk.QueryInfo(tooLong.c_str(), INFO_FULLPATH, buffer), ERR_UNKNOWN);
}

}  // namespace
