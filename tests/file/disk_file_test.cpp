#include "file/disk_file.h"

#include <memory>

#include "file/disk_os.h"
#include "file/disk_test_support.h"

using namespace disk_test;

namespace {

std::unique_ptr<CFile> OpenOn(CDiskFS& disk, const std::string& path, u16 flags, ErrorCode* error) {
  return std::unique_ptr<CFile>(disk.Open(path.c_str(), flags, error));
}

TEST(DiskFileOpen, CreateAndTruncateFlagsFollowTheirCombinations) {
  TempDir dir;
  CDiskFS disk;
  const struct {
    const char* name;
    u16 flags;
    ErrorCode error;
    const char* after;  // the file's content afterwards, null: it does not exist
    u32 size;
  } rows[] = {
      {"new", OPEN_WRITE | OPEN_CREATE, nullptr, "", 0},
      {"old", OPEN_WRITE | OPEN_CREATE, ERR_FILEEXIST, "keep me", 0},
      {"old", OPEN_WRITE | OPEN_TRUNCATE, nullptr, "keep me", 7},
      {"old", 0x0F, nullptr, "", 0},
      {"missing", OPEN_READ | OPEN_TRUNCATE, ERR_FILENOTFOUND, nullptr, 0},
      {"nodir\\x", OPEN_READ, ERR_PATHNOTFOUND, nullptr, 0},
      {"", OPEN_READ, ERR_ACCESSDENIED, nullptr, 0},  // a directory is not a file
  };
  for (const auto& row : rows) {
    dir.Write("old", "keep me");
    ErrorCode error = ERR_UNKNOWN;
    auto file = OpenOn(disk, dir.Path(row.name), row.flags, &error);
    EXPECT_EQ(error, row.error) << row.name << " " << row.flags;
    EXPECT_EQ(file != nullptr, row.error == nullptr);
    if (file) {
      EXPECT_EQ(file->GetSize(), row.size);
    }
    file.reset();
    if (*row.name) {
      EXPECT_EQ(fs::exists(dir.Native(row.name)), row.after != nullptr) << row.name;
    }
    if (row.after) {
      EXPECT_EQ(dir.Read(row.name), row.after) << row.name;
    }
  }
  EXPECT_FALSE(disk.Open(nullptr, OPEN_READ, nullptr));
}

struct OpenArguments {
  u32 access, share, creation, hints;
  bool operator==(const OpenArguments& o) const {
    return access == o.access && share == o.share && creation == o.creation && hints == o.hints;
  }
};
OpenArguments lastOpen;
decltype(DiskOsTable::Open) realOpen;

TEST(DiskFileOpen, FlagsMapOntoTheSystemArguments) {
  TempDir dir;
  dir.Write("f", "x");
  CDiskFS disk;
  realOpen = g_diskOs.Open;
  g_diskOs.Open = [](const char* path, u32 access, u32 share, u32 creation, u32 hints) {
    lastOpen = {access, share, creation, hints};
    return realOpen(path, access, share, creation, hints);
  };
  const struct {
    u16 flags;
    OpenArguments expected;
  } rows[] = {
      {0x01, {OS_ACCESS_READ, 0, OS_OPEN_EXISTING, OS_HINT_NORMAL}},
      {0xC1, {OS_ACCESS_READ, OS_SHARE_READ | OS_SHARE_WRITE, OS_OPEN_EXISTING, OS_HINT_NORMAL}},
      {0x0F, {OS_ACCESS_READ | OS_ACCESS_WRITE, 0, OS_CREATE_ALWAYS, OS_HINT_NORMAL}},
      {0x08, {0, 0, OS_OPEN_EXISTING, OS_HINT_NORMAL}},
      {0x31, {OS_ACCESS_READ, 0, OS_OPEN_EXISTING, OS_HINT_SEQUENTIAL}},
      {0x61, {OS_ACCESS_READ, OS_SHARE_READ, OS_OPEN_EXISTING, OS_HINT_RANDOM}},
  };
  for (const auto& row : rows) {
    auto file = OpenOn(disk, dir.Path("f"), row.flags, nullptr);
    ASSERT_TRUE(file) << row.flags;
    EXPECT_EQ(file->openFlags, row.flags);
    EXPECT_TRUE(lastOpen == row.expected) << row.flags;
  }
  DiskOsRestore();
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

}  // namespace
