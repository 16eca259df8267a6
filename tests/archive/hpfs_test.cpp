#include "archive/hpfs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "archive/hpfs_create.h"
#include "archive/hpfs_verify.h"
#include "support/hpfs_store.h"

namespace {

constexpr u32 kBlock = 64;

struct Store {
  MemoryFile* file = nullptr;
  CHPFS* fs = nullptr;
  explicit Store(u32 maxBlocks = 100000, std::vector<u8> bytes = {}) {
    if (bytes.empty()) bytes = EmptyHpfsBytes(kBlock, 32, maxBlocks);
    fs = new CHPFS(AttachHpfs(std::move(bytes), &file).release());
  }
  ~Store() { delete fs; }
  CBFHP* pool() const { return static_cast<CBFHP*>(fs->Pool()); }
  // Closes the file system (flushing the store) and returns the file's bytes.
  std::vector<u8> Close() {
    pool()->Flush();
    std::vector<u8> bytes = file->bytes;
    delete fs;
    fs = nullptr;
    return bytes;
  }
};

ErrorCode WriteFile(CHPFS* fs, const char* path, const std::string& text) {
  ErrorCode error = nullptr;
  CFile* file = fs->Open(path, OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE, &error);
  if (!file) return error;
  error = file->Write(text.data(), static_cast<u32>(text.size()), nullptr);
  delete file;
  return error;
}

std::string ReadFile(CHPFS* fs, const char* path) {
  ErrorCode error = nullptr;
  CFile* file = fs->Open(path, OPEN_READ, &error);
  if (!file) return std::string("<") + ErrorText(error) + ">";
  std::string text(file->GetSize(), '\0');
  u32 done = 0;
  if (!text.empty()) file->Read(&text[0], file->GetSize(), &done);
  delete file;
  return text.substr(0, done);
}

// "name" for files, "name/" for directories, in directory order.
std::string List(CHPFS* fs, const char* directory) {
  FindRecord record = {};
  std::string names;
  for (ErrorCode error = fs->FindFirst(&record, directory); !error; error = fs->FindNext(&record)) {
    names += record.name;
    if (record.attributes & ATTR_DIRECTORY) names += "/";
    names += " ";
  }
  fs->FindClose(&record);
  return names;
}

TEST(Hpfs, FilesAndDirectoriesAreFoundIgnoringCaseAndKeepTheirBytes) {
  Store store;
  ASSERT_EQ(store.fs->CreateDir("", "Local"), nullptr);
  ErrorCode error = ERR_UNKNOWN;
  CFile* file = store.fs->Open("local\\x.ini", OPEN_CREATE | OPEN_WRITE, &error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(error, nullptr);
  ASSERT_EQ(file->Write("[system]\n", 9, nullptr), nullptr);
  delete file;
  EXPECT_EQ(store.fs->Exists("LOCAL\\X.INI"), 1u);
  EXPECT_EQ(store.fs->Exists("/local/x.ini"), 1u);
  EXPECT_EQ(store.fs->Exists("LOCAL"), 1u);
  EXPECT_EQ(store.fs->Exists("LOCAL\\"), 1u);
  EXPECT_EQ(store.fs->Exists("LOCAL\\X.IN"), 0u);
  EXPECT_EQ(store.fs->Exists("LOCAL\\X.INI\\Y"), 0u);
  EXPECT_EQ(store.fs->Exists("LOCAL\\\\X.INI"), 0u);

  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(PatternByte(9, (u32)i));
  ASSERT_EQ(WriteFile(store.fs, "Local\\big.bin", big), nullptr);
  EXPECT_EQ(List(store.fs, "local"), "x.ini big.bin ");
  EXPECT_EQ(List(store.fs, ""), "Local/ ");

  Store again(0, store.Close());
  EXPECT_EQ(ReadFile(again.fs, "LOCAL\\x.ini"), "[system]\n");
  EXPECT_EQ(ReadFile(again.fs, "local/BIG.BIN"), big);
  // Directories are not files, and a path through a file is no path.
  EXPECT_EQ(again.fs->Open("local", OPEN_READ, &error), nullptr);
  EXPECT_EQ(error, ERR_UNKNOWN);
  EXPECT_EQ(again.fs->Open("local\\x.ini\\y", OPEN_READ, &error), nullptr);
  EXPECT_EQ(error, ERR_UNKNOWN);
  EXPECT_EQ(again.fs->Open("nothing", OPEN_READ, &error), nullptr);
  EXPECT_EQ(error, ERR_NOTFOUND);
  EXPECT_EQ(again.fs->Open("nothing\\x", OPEN_READ | OPEN_CREATE, &error), nullptr);
  EXPECT_EQ(error, ERR_NOTFOUND);
}

TEST(Hpfs, SharingConflictsAreRefused) {
  Store store;
  ASSERT_EQ(WriteFile(store.fs, "f", "hello"), nullptr);
  ErrorCode error = nullptr;
  CFile* reader = store.fs->Open("f", OPEN_READ, &error);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(store.fs->Open("f", OPEN_READ | OPEN_SHARE_READ, &error), nullptr);
  EXPECT_EQ(error, ERR_UNKNOWN);
  delete reader;

  CFile* a = store.fs->Open("f", OPEN_READ | OPEN_SHARE_READ, &error);
  CFile* b = store.fs->Open("f", OPEN_READ | OPEN_SHARE_READ, &error);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(store.fs->Open("f", OPEN_WRITE | OPEN_SHARE_READ, &error), nullptr);
  CFile* c = store.fs->Open("f", OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, &error);
  ASSERT_NE(c, nullptr);
  delete a;
  delete b;
  // Only c is open now, and it shares writing too.
  CFile* d = store.fs->Open("f", OPEN_WRITE | OPEN_SHARE_READ, &error);
  EXPECT_NE(d, nullptr);
  delete d;
  delete c;
  // Truncation: OPEN_CREATE alone and OPEN_TRUNCATE alone empty an existing file.
  delete store.fs->Open("f", OPEN_CREATE | OPEN_WRITE, &error);
  EXPECT_EQ(ReadFile(store.fs, "f"), "");
  ASSERT_EQ(WriteFile(store.fs, "f", "again"), nullptr);
  delete store.fs->Open("f", OPEN_TRUNCATE | OPEN_READ, &error);
  EXPECT_EQ(ReadFile(store.fs, "f"), "");
}

TEST(Hpfs, DeleteRenameAndDirectoryRemoval) {
  Store store;
  ASSERT_EQ(store.fs->CreateDir("", "a"), nullptr);
  ASSERT_EQ(store.fs->CreateDir("a", "b"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "a\\File.txt", "text"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "top", "t"), nullptr);
  EXPECT_EQ(store.fs->CreateDir("a", "B"), ERR_UNKNOWN);  // names compare without case
  EXPECT_EQ(store.fs->CreateDir("a", "x\\y"), ERR_BADPARAMS);
  EXPECT_EQ(store.fs->CreateDir("a", ""), ERR_UNKNOWN);
  EXPECT_EQ(store.fs->CreateDir("top", "x"), ERR_UNKNOWN);

  // Into another directory and under a new name; it lands at the end, in the case given.
  ASSERT_EQ(store.fs->Rename("top", "a\\b\\Moved"), nullptr);
  EXPECT_EQ(List(store.fs, "a\\b"), "Moved ");
  EXPECT_EQ(ReadFile(store.fs, "A\\B\\MOVED"), "t");
  ASSERT_EQ(store.fs->Rename("a\\b", "a\\c"), nullptr);
  EXPECT_EQ(List(store.fs, "a"), "File.txt c/ ");
  EXPECT_EQ(ReadFile(store.fs, "a\\c\\moved"), "t");
  // Refused renames leave the entry under its old name.
  EXPECT_EQ(store.fs->Rename("a\\File.txt", "a\\C"), ERR_UNKNOWN);
  EXPECT_EQ(store.fs->Rename("a", "a\\c\\a"), ERR_UNKNOWN);
  EXPECT_EQ(store.fs->Rename("", "x"), ERR_UNKNOWN);
  EXPECT_EQ(store.fs->Exists("a\\File.txt"), 1u);
  EXPECT_EQ(store.fs->Exists("a\\c\\moved"), 1u);

  EXPECT_EQ(store.fs->RemoveDir("a", "c"), ERR_UNKNOWN);  // not empty
  EXPECT_EQ(store.fs->Exists("a\\c\\moved"), 1u);
  EXPECT_EQ(store.fs->Delete("a\\c"), ERR_UNKNOWN);  // a directory
  EXPECT_EQ(store.fs->Delete("a\\c\\moved"), nullptr);
  EXPECT_EQ(store.fs->Exists("a\\c\\moved"), 0u);
  EXPECT_EQ(store.fs->Delete("a\\c\\moved"), ERR_NOTFOUND);
  EXPECT_EQ(store.fs->RemoveDir("a", "c"), nullptr);
  EXPECT_EQ(List(store.fs, "a"), "File.txt ");
  // A change of case only keeps the entry where it is.
  ASSERT_EQ(WriteFile(store.fs, "a\\other", "o"), nullptr);
  ASSERT_EQ(store.fs->Rename("a\\file.txt", "a\\FILE.TXT"), nullptr);
  EXPECT_EQ(List(store.fs, "a"), "FILE.TXT other ");
  EXPECT_EQ(ReadFile(store.fs, "a\\file.txt"), "text");
}

TEST(HpfsRegression, RemoveDirRefusesAnEmptyFile) {
  Store store;
  ASSERT_EQ(WriteFile(store.fs, "empty", ""), nullptr);
  EXPECT_EQ(store.fs->RemoveDir("", "empty"), ERR_UNKNOWN);
  EXPECT_EQ(store.fs->Exists("empty"), 1u);
}

TEST(HpfsRegression, DeleteOfAnOpenFileIsRefused) {
  Store store;
  ASSERT_EQ(WriteFile(store.fs, "f", "data"), nullptr);
  CFile* open = store.fs->Open("f", OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, nullptr);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(store.fs->Delete("f"), ERR_SHARING);
  delete open;
  EXPECT_EQ(store.fs->Delete("f"), nullptr);
}

TEST(HpfsRegression, CacheIsDroppedWhenItsDirectoryIsMovedOrRemoved) {
  Store store;
  ASSERT_EQ(store.fs->CreateDir("", "a"), nullptr);
  ASSERT_EQ(store.fs->CreateDir("a", "b"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "a\\b\\x", "1"), nullptr);
  EXPECT_EQ(store.fs->Exists("a\\b\\x"), 1u);
  EXPECT_STREQ(store.fs->CachedPath(), "a\\b");

  // Moving an ancestor of the cached directory: its old path must stop resolving.
  ASSERT_EQ(store.fs->Rename("a", "z"), nullptr);
  EXPECT_EQ(store.fs->Exists("a\\b\\x"), 0u);
  EXPECT_EQ(store.fs->Exists("z\\b\\x"), 1u);

  // Removing the cached directory and reusing its handle for another one.
  ASSERT_EQ(store.fs->Delete("z\\b\\x"), nullptr);
  ASSERT_EQ(store.fs->CreateDir("z\\b", "keep"), nullptr);
  EXPECT_EQ(store.fs->Exists("z\\b\\keep"), 1u);
  EXPECT_STREQ(store.fs->CachedPath(), "z\\b");
  ASSERT_EQ(store.fs->RemoveDir("z\\b", "keep"), nullptr);
  ASSERT_EQ(store.fs->RemoveDir("z", "b"), nullptr);
  EXPECT_STREQ(store.fs->CachedPath(), "");
  ASSERT_EQ(store.fs->CreateDir("z", "c"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "z\\c\\y", "2"), nullptr);
  EXPECT_EQ(store.fs->Exists("z\\b\\y"), 0u);
  EXPECT_EQ(store.fs->Exists("z\\c\\y"), 1u);
  EXPECT_EQ(store.pool()->LockedCount(), 1u);  // only the cached directory
}

TEST(Hpfs, CacheFollowsChangesToTheCachedDirectory) {
  Store store;
  ASSERT_EQ(store.fs->CreateDir("", "dir"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "dir\\one", "1"), nullptr);
  EXPECT_EQ(ReadFile(store.fs, "DIR\\one"), "1");
  EXPECT_STREQ(store.fs->CachedPath(), "DIR");
  for (int i = 0; i < 20; ++i) {
    std::string path = "dir\\n" + std::to_string(i);
    ASSERT_EQ(WriteFile(store.fs, path.c_str(), path), nullptr);
    EXPECT_EQ(ReadFile(store.fs, path.c_str()), path);
  }
  ASSERT_EQ(store.fs->Delete("dir\\one"), nullptr);
  EXPECT_EQ(store.fs->Exists("dir\\one"), 0u);
  EXPECT_EQ(ReadFile(store.fs, "dir\\n19"), "dir\\n19");
  ASSERT_EQ(store.fs->Rename("dir\\n0", "dir\\zero"), nullptr);
  EXPECT_EQ(ReadFile(store.fs, "dir\\zero"), "dir\\n0");
  EXPECT_EQ(store.fs->Exists("dir\\n0"), 0u);
}

TEST(HpfsRegression, StoreWithoutRootThatCannotGrowStaysEmpty) {
  // Full store: no block left for a root directory. Nothing may be written either.
  std::vector<u8> bytes = EmptyHpfsBytes(kBlock, 32, 1);
  auto* file = new MemoryFile(bytes);
  file->failWriteFrom = 1;
  file->failError = ERR_WRITEFAIL;
  auto* pool = new CBFHP();
  ASSERT_EQ(pool->Attach(file), nullptr);
  {
    CHPFS fs(pool);
    EXPECT_EQ(fs.RootHandle(), 0u);
    ErrorCode error = nullptr;
    EXPECT_EQ(fs.Open("LOCAL\\strings3.ini", 193, &error), nullptr);
    EXPECT_EQ(error, ERR_NOTFOUND);
    EXPECT_EQ(fs.Exists(""), 0u);
    FindRecord record = {};
    EXPECT_NE(fs.FindFirst(&record, ""), nullptr);
    fs.FindClose(&record);
    EXPECT_NE(fs.CreateDir("", "x"), nullptr);
    EXPECT_EQ(file->bytes, bytes);
  }
}

TEST(HpfsRegression, RootValueZeroInAReadOnlyStoreLeavesTheFileAlone) {
  std::vector<u8> bytes = EmptyHpfsBytes(kBlock, 32, 100);
  auto* file = new MemoryFile(bytes);
  file->failWriteFrom = 1;
  file->failError = ERR_WRITEFAIL;
  auto* pool = new CBFHP();
  ASSERT_EQ(pool->Attach(file), nullptr);
  bool destroyed = false;
  file->destroyedFlag = &destroyed;
  std::vector<u8> after;
  {
    CHPFS fs(pool);
    FindRecord record = {};
    EXPECT_EQ(fs.FindFirst(&record, ""), ERR_NOMOREFILES);
    fs.FindClose(&record);
    EXPECT_EQ(fs.Open("x", OPEN_READ, nullptr), nullptr);
    after = file->bytes;
  }
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(after, bytes);
}

TEST(HpfsMalformed, EntriesRunningPastTheirDirectoryEndTheWalk) {
  Store store;
  ASSERT_EQ(WriteFile(store.fs, "ab", "x"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "cde", "y"), nullptr);
  CBFHP* pool = store.pool();
  u32 root = store.fs->RootHandle();
  // The second entry's name length now reaches past the end of the directory.
  u8 length[2] = {4, 0};
  ASSERT_EQ(pool->WriteHandle(root, length, 10 + 6, 2), nullptr);
  store.fs->Exists("nothing\\x");  // drop any cached copy
  EXPECT_EQ(store.fs->Exists("ab"), 1u);
  EXPECT_EQ(store.fs->Exists("cde"), 0u);
  FindRecord record = {};
  ASSERT_EQ(store.fs->FindFirst(&record, ""), nullptr);
  EXPECT_STREQ(record.name, "ab");
  EXPECT_EQ(store.fs->FindNext(&record), ERR_INVALIDFORMAT);
  store.fs->FindClose(&record);
  // An entry naming a handle outside the store is not followed.
  u8 handle[4] = {0xFF, 0xFF, 0, 0};
  ASSERT_EQ(pool->WriteHandle(root, handle, 0, 4), nullptr);
  EXPECT_EQ(ReadFile(store.fs, "ab"), "");
  EXPECT_NE(WriteFile(store.fs, "ab", "more"), nullptr);
}

TEST(HpfsVerify, SoundStoresPassAndEachKindOfDamageIsNamed) {
  Store store;
  ASSERT_EQ(store.fs->CreateDir("", "a"), nullptr);
  ASSERT_EQ(store.fs->CreateDir("a", "b"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "a\\b\\big", std::string(20000, 'b')), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "a\\small", "s"), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "gone", std::string(3000, 'g')), nullptr);
  ASSERT_EQ(WriteFile(store.fs, "last", "l"), nullptr);
  ASSERT_EQ(store.fs->Delete("gone"), nullptr);  // leaves a free list
  std::vector<u8> good = store.Close();
  ASSERT_GT(LoadLe32(good, 16), 10u);

  char message[200] = "unset";
  u32 files = 0, directories = 0;
  u64 bytes = 0;
  MemoryFile sound(good);
  ASSERT_EQ(VerifyHpfsStore(&sound, message, sizeof message, &files, &directories, &bytes), nullptr)
      << message;
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(directories, 2u);
  EXPECT_EQ(bytes, 20002u);

  auto fault = [&](std::vector<u8> image) {
    MemoryFile file(image);
    message[0] = 0;
    EXPECT_EQ(VerifyHpfsStore(&file, message, sizeof message), ERR_INVALIDFORMAT);
    return std::string(message);
  };
  // The free list's current block listed again as a free block of its own.
  std::vector<u8> damaged = good;
  u32 list = LoadLe32(good, 20);
  StoreLe32(damaged, size_t{list} * kBlock + 4, list);
  EXPECT_NE(fault(damaged).find("listed twice"), std::string::npos) << message;
  // One block more than the blocks in use and free: nothing accounts for it.
  damaged = good;
  damaged.resize(good.size() + kBlock);
  StoreLe32(damaged, 8, LoadLe32(good, 8) + 1);
  EXPECT_NE(fault(damaged).find("neither used nor free"), std::string::npos) << message;
  // The root directory's first entry names the root itself.
  damaged = good;
  u32 root = LoadLe32(good, 28);
  u32 firstData = LoadLe32(good, size_t{root} * kBlock + 32);
  StoreLe32(damaged, size_t{firstData} * kBlock, root);
  EXPECT_NE(fault(damaged).find("used twice"), std::string::npos) << message;
  damaged = good;
  StoreLe32(damaged, 0, 0);
  EXPECT_EQ(fault(damaged), "no HPFS magic");
}

TEST(HpfsCreate, RefusesUnusableGeometry) {
  auto* created = new MemoryFile();
  MemoryFile& file = *created;
  EXPECT_EQ(CreateHpfsStore(&file, 0, 32, 100), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(&file, 66, 32, 100), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(&file, 32, 8, 100), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(&file, 64, 64, 100), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(&file, 64, 6, 100), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(&file, 64, 30, 100), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(&file, 64, 32, 1), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(nullptr, 64, 32, 100), ERR_BADPARAMS);
  EXPECT_TRUE(file.bytes.empty());
  file.bytes.assign(1000, 0xEE);
  ASSERT_EQ(CreateHpfsStore(&file, 64, 60, 100), nullptr);
  EXPECT_EQ(file.bytes.size(), 64u);
  CBFHP pool;
  ASSERT_EQ(pool.Attach(created), nullptr);
  EXPECT_EQ(pool.Header().rootHeaderSize, 60u);
  EXPECT_EQ(pool.Header().maxBlocks, 100u);
  EXPECT_EQ(pool.Header().blockCount, 1u);
}

void CountFiles(void* context, const char*, u32 size) {
  auto* seen = static_cast<std::map<std::string, u32>*>(context);
  (*seen)["bytes"] += size;
  (*seen)["files"] += 1;
}

TEST(HpfsCreate, ImportCopiesATreeFromAnyService) {
  Store source;
  ASSERT_EQ(source.fs->CreateDir("", "src"), nullptr);
  ASSERT_EQ(source.fs->CreateDir("src", "Sub"), nullptr);
  ASSERT_EQ(source.fs->CreateDir("src\\Sub", "empty"), nullptr);
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(PatternByte(4, (u32)i));
  ASSERT_EQ(WriteFile(source.fs, "src\\big", big), nullptr);
  ASSERT_EQ(WriteFile(source.fs, "src\\Sub\\small.txt", "small"), nullptr);
  ASSERT_EQ(WriteFile(source.fs, "src\\zero", ""), nullptr);

  MemoryFile* file = new MemoryFile();
  ASSERT_EQ(CreateHpfsStore(file, 512, 16, kHpfsDefaultMaxBlocks), nullptr);
  auto* pool = new CBFHP();
  ASSERT_EQ(pool->Attach(file), nullptr);
  {
    CHPFS target(pool);
    std::map<std::string, u32> seen;
    ASSERT_EQ(ImportTree(source.fs, "src", &target, "data\\in", CountFiles, &seen), nullptr);
    EXPECT_EQ(seen["files"], 3u);
    EXPECT_EQ(seen["bytes"], big.size() + 5);
    EXPECT_EQ(ReadFile(&target, "data\\in\\big"), big);
    EXPECT_EQ(ReadFile(&target, "data\\in\\sub\\small.txt"), "small");
    EXPECT_EQ(ReadFile(&target, "data\\in\\zero"), "");
    EXPECT_EQ(List(&target, "data\\in\\Sub"), "empty/ small.txt ");
    // Importing again merges directories and replaces files.
    ASSERT_EQ(WriteFile(source.fs, "src\\Sub\\small.txt", "changed"), nullptr);
    ASSERT_EQ(ImportTree(source.fs, "src", &target, "data\\in"), nullptr);
    EXPECT_EQ(ReadFile(&target, "data\\in\\sub\\small.txt"), "changed");
    EXPECT_EQ(List(&target, "data"), "in/ ");
    EXPECT_EQ(ImportTree(source.fs, "missing", &target, ""), ERR_NOTFOUND);
  }
}

}  // namespace
