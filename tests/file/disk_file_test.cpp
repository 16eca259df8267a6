#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <memory>
#include <tuple>

#include "file/disk_file.h"
#include "file/disk_os.h"
#include "file/disk_test_support.h"

using namespace disk_test;

namespace {

std::unique_ptr<CFile> OpenOn(CDiskFS& disk, const std::string& path, u16 flags, ErrorCode* error) {
  return std::unique_ptr<CFile>(disk.Open(path.c_str(), flags, error));
}

using OpenArguments = std::tuple<u32, u32, u32, u32>;  // access, share, creation, hints
OpenArguments lastOpen;
decltype(DiskOsTable::Open) realOpen;

// What each combination of flags asks of the system, and what it does to a file "old" holding
// "keep me", to one that is missing and to a folder.
TEST(DiskFileOpen, FlagsMapOntoTheSystemArgumentsAndTheirOutcomes) {
  TempDir dir;
  CDiskFS disk;
  realOpen = g_diskOs.Open;
  g_diskOs.Open = [](const char* path, u32 access, u32 share, u32 creation, u32 hints) {
    lastOpen = {access, share, creation, hints};
    return realOpen(path, access, share, creation, hints);
  };
  constexpr u32 kRead = OS_ACCESS_READ, kWrite = OS_ACCESS_WRITE, kOld = OS_OPEN_EXISTING;
  constexpr u32 kPlain = OS_HINT_NORMAL;
  const struct {
    const char* name;
    u16 flags;
    OpenArguments expected;
    ErrorCode error;
    const char* after;  // the file's content afterwards, null: it does not exist
    u32 size;
  } rows[] = {
      {"new", 0x06, {kWrite, 0, OS_CREATE_NEW, kPlain}, nullptr, "", 0},
      {"old", 0x06, {kWrite, 0, OS_CREATE_NEW, kPlain}, ERR_FILEEXIST, "keep me", 0},
      {"old", 0x0A, {kWrite, 0, kOld, kPlain}, nullptr, "keep me", 7},
      {"old", 0x0F, {kRead | kWrite, 0, OS_CREATE_ALWAYS, kPlain}, nullptr, "", 0},
      {"old", 0x08, {0, 0, kOld, kPlain}, nullptr, "keep me", 7},
      {"old", 0xC1, {kRead, OS_SHARE_READ | OS_SHARE_WRITE, kOld, kPlain}, nullptr, "keep me", 7},
      {"old", 0x31, {kRead, 0, kOld, OS_HINT_SEQUENTIAL}, nullptr, "keep me", 7},
      {"old", 0x61, {kRead, OS_SHARE_READ, kOld, OS_HINT_RANDOM}, nullptr, "keep me", 7},
      {"missing", 0x09, {kRead, 0, kOld, kPlain}, ERR_FILENOTFOUND, nullptr, 0},
      {"nodir\\x", 0x01, {kRead, 0, kOld, kPlain}, ERR_PATHNOTFOUND, nullptr, 0},
      {"", 0x01, {kRead, 0, kOld, kPlain}, ERR_ACCESSDENIED, nullptr, 0},  // a folder
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.flags));
    dir.Write("old", "keep me");
    ErrorCode error = ERR_UNKNOWN;
    auto file = OpenOn(disk, dir.Path(row.name), row.flags, &error);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(lastOpen, row.expected);
    EXPECT_EQ(file != nullptr, row.error == nullptr);
    EXPECT_TRUE(!file || (file->GetSize() == row.size && file->openFlags == row.flags));
    file.reset();
    EXPECT_EQ(*row.name && fs::exists(dir.Native(row.name)), *row.name && row.after);
    EXPECT_EQ(row.after ? dir.Read(row.name) : "", row.after ? row.after : "");
  }
  DiskOsRestore();
  EXPECT_FALSE(disk.Open(nullptr, OPEN_READ, nullptr));
}

TEST(DiskFile, RefusesWhatItsAccessOrAnotherOpenerDoesNotAllow) {
  TempDir dir;
  dir.Write("r", "read only access");
  CDiskFS disk;
  auto file = OpenOn(disk, dir.Path("r"), OPEN_READ, nullptr);
  ASSERT_TRUE(file);
  u32 done = 99;
  EXPECT_EQ(file->Write("x", 1, &done), ERR_ACCESSDENIED);
  EXPECT_EQ(done, 0u);
  // Windows says ACCESSDENIED; Wine reports an error number without a name of ours.
  ErrorCode truncated = file->Truncate();
  EXPECT_TRUE(truncated == ERR_ACCESSDENIED || truncated == ERR_TRUNCFAIL) << ErrorText(truncated);
  file.reset();
  EXPECT_EQ(dir.Read("r"), "read only access");
#ifdef _WIN32  // POSIX has no mandatory share modes; the backend ignores them
  ErrorCode error = nullptr;
  auto exclusive = OpenOn(disk, dir.Path("r"), OPEN_READ | OPEN_WRITE, nullptr);
  ASSERT_TRUE(exclusive);
  EXPECT_FALSE(OpenOn(disk, dir.Path("r"), 0xC1, &error));
  EXPECT_EQ(error, ERR_SHARING);
  exclusive.reset();
  auto first = OpenOn(disk, dir.Path("r"), OPEN_READ | OPEN_SHARE_READ, nullptr);
  ASSERT_TRUE(first);
  EXPECT_TRUE(OpenOn(disk, dir.Path("r"), OPEN_READ | OPEN_SHARE_READ, &error));
#endif
}

// Positions are unsigned 32-bit values: ReadAt and WriteAt once stopped at 2 GiB (the seek
// took the position as negative), and a file of 4 GiB read as the size of its low part, 0.
TEST(DiskFileLarge, PositionsUpTo4GiBAreReachedAndA4GiBFileIsNotWrapped) {
  TempDir dir;
  CDiskFS disk;
  auto file = OpenOn(disk, dir.Path("sparse.bin"), 0x0F, nullptr);
  ASSERT_TRUE(file);
  const u32 marks[] = {0x7FFFFFFFu, 0x80000000u, 0xC0000000u, 0xFFFFFFFEu};
  for (u32 at : marks) {
    const u8 mark = static_cast<u8>(at >> 24) ^ 0x5A;
    ASSERT_EQ(file->WriteAt(&mark, at, 1, nullptr), nullptr) << at;
  }
  EXPECT_EQ(file->GetSize(), 0xFFFFFFFFu);
  for (u32 at : marks) {
    u8 mark = 0;
    ASSERT_EQ(file->ReadAt(&mark, at, 1, nullptr), nullptr) << at;
    EXPECT_EQ(mark, static_cast<u8>(at >> 24) ^ 0x5A) << at;
    EXPECT_EQ(file->GetPosition(), at + 1);
  }
  ASSERT_EQ(file->WriteAt("z", 0xFFFFFFFFu, 1, nullptr), nullptr);
  EXPECT_EQ(file->GetSize(), 0xFFFFFFFFu) << "4 GiB must not read as 0";
  ASSERT_EQ(file->Seek(0x10, SEEK_FROM_START), nullptr);
  EXPECT_EQ(file->Seek(0, SEEK_FROM_END), ERR_SEEKFAIL) << "4 GiB is no 32-bit position";
  EXPECT_EQ(file->GetPosition(), 0x10u) << "a refused seek leaves the position";
}

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
  // A file made renamable takes a free name while open, and keeps being written under it.
  std::unique_ptr<CFile> open(
      disk.Open(dir.Path("seven").c_str(), OPEN_WRITE | OPEN_CREATE | OPEN_RENAMABLE, nullptr));
  ASSERT_TRUE(open);
  EXPECT_EQ(open->Write("ab", 2, nullptr), nullptr);
  EXPECT_EQ(disk.RenameOpen(open.get(), dir.Path("seven").c_str(), dir.Path("two").c_str()),
            ERR_ALREADYEXISTS);
  EXPECT_EQ(disk.RenameOpen(open.get(), dir.Path("seven").c_str(), dir.Path("eight").c_str()),
            nullptr);
  EXPECT_EQ(open->Write("c", 1, nullptr), nullptr);
  open.reset();
  EXPECT_EQ(dir.Read("eight"), "abc");
  EXPECT_FALSE(fs::exists(dir.Native("seven")));

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
