#include "archive/hpfs.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/hpfs_create.h"
#include "archive/hpfs_verify.h"
#include "support/failing_pools.h"
#include "support/hpfs_store.h"

namespace {

constexpr u32 kBlock = 64;

struct Store {
  MemoryFile* file = nullptr;
  CHPFS* fs = nullptr;
  explicit Store(std::vector<u8> bytes = EmptyHpfsBytes(kBlock, 32, 100000)) {
    fs = new CHPFS(AttachHpfs(std::move(bytes), &file).release());
  }
  ~Store() { delete fs; }
  CBFHP* pool() const { return static_cast<CBFHP*>(fs->Pool()); }
  std::vector<u8> Close() {  // flushes the store and returns the file's bytes
    EXPECT_EQ(pool()->Flush(), nullptr);
    std::vector<u8> bytes = file->bytes;
    delete fs;
    fs = nullptr;
    return bytes;
  }
};

std::string Outcome(ErrorCode error) { return error ? ErrorText(error) : "ok"; }

ErrorCode WriteFile(CHPFS* fs, const char* path, const std::string& text) {
  ErrorCode error = nullptr;
  CFile* file = fs->Open(path, OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE, &error);
  if (!file) return error;
  error = file->Write(text.data(), static_cast<u32>(text.size()), nullptr);
  delete file;
  return error;
}

std::string ReadFile(CFileService* fs, const char* path) {
  ErrorCode error = nullptr;
  CFile* file = fs->Open(path, OPEN_READ, &error);
  if (!file) return "<" + Outcome(error) + ">";
  std::string text(file->GetSize(), '\0');
  u32 done = 0;
  if (!text.empty()) file->Read(&text[0], file->GetSize(), &done);
  delete file;
  return text.substr(0, done);
}

// "name" for files, "name/" for directories, in directory order.
std::string List(CFileService* fs, const char* directory) {
  FindRecord record = {};
  std::string names;
  for (ErrorCode error = fs->FindFirst(&record, directory); !error; error = fs->FindNext(&record))
    names += std::string(record.name) + (record.attributes & ATTR_DIRECTORY ? "/ " : " ");
  fs->FindClose(&record);
  return names;
}

// One operation of a script: its letter (m mkdir, w write, r read, e exists, n rename, d delete,
// x rmdir, l list, c the cached directory), two paths or a directory and a name (for w the text),
// and the outcome it must give.
struct Step {
  char op;
  const char *a, *b;
  std::string expected;
};

std::string Perform(CHPFS* fs, const Step& s) {
  if (s.op == 'm') return Outcome(fs->CreateDir(s.a, s.b));
  if (s.op == 'w') return Outcome(WriteFile(fs, s.a, s.b));
  if (s.op == 'r') return ReadFile(fs, s.a);
  if (s.op == 'e') return std::to_string(fs->Exists(s.a));
  if (s.op == 'n') return Outcome(fs->Rename(s.a, s.b));
  if (s.op == 'd') return Outcome(fs->Delete(s.a));
  if (s.op == 'x') return Outcome(fs->RemoveDir(s.a, s.b));
  return s.op == 'l' ? List(fs, s.a) : fs->CachedPath();
}

}  // namespace

// One store through a script of operations, each with its outcome.
TEST(Hpfs, ScriptOfOperationsGivesTheExpectedOutcomes) {
  const std::string ok = "ok", unknown = Outcome(ERR_UNKNOWN), bad = Outcome(ERR_BADPARAMS),
                    notFound = Outcome(ERR_NOTFOUND);
  const Step steps[] = {
      // Names compare without case; a path through a file, or with a doubled separator, is none.
      {'m', "", "Local", ok},
      {'w', "local\\x.ini", "[system]\n", ok},
      {'e', "LOCAL\\X.INI", "", "1"},
      {'e', "/local/x.ini", "", "1"},
      {'e', "LOCAL\\X.INI\\Y", "", "0"},
      {'e', "LOCAL\\\\X.INI", "", "0"},
      {'r', "local", "", "<" + unknown + ">"},
      {'r', "nothing", "", "<" + notFound + ">"},
      {'w', "nothing\\x", "", notFound},
      {'l', "", "", "Local/ "},
      {'m', "local", "X.INI", unknown},
      {'m', "local", "a\\b", bad},
      {'m', "local", "", unknown},
      // Renames move entries to the end of the target directory, in the case given.
      {'m', "local", "b", ok},
      {'w', "top", "t", ok},
      {'n', "top", "local\\b\\Moved", ok},
      {'r', "LOCAL\\B\\MOVED", "", "t"},
      {'n', "local\\b", "local\\c", ok},
      {'l', "local", "", "x.ini c/ "},
      {'n', "local\\x.ini", "local\\C", unknown},
      {'n', "local", "local\\c\\a", unknown},
      {'n', "", "x", unknown},
      {'n', "local\\X.ini", "local\\X.INI", ok},  // a change of case stays in place
      {'l', "local", "", "X.INI c/ "},
      // Only empty directories are removed, only files deleted; an empty file is no directory.
      {'x', "local", "c", unknown},
      {'d', "local\\c", "", unknown},
      {'d', "local\\c\\moved", "", ok},
      {'d', "local\\c\\moved", "", notFound},
      {'x', "local", "c", ok},
      {'w', "empty", "", ok},
      {'x', "", "empty", unknown},
      {'e', "empty", "", "1"},
      // The cached directory follows changes to it and is dropped when it is moved or removed.
      {'m', "", "a", ok},
      {'m', "a", "b", ok},
      {'w', "a\\b\\x", "1", ok},
      {'e', "a\\b\\x", "", "1"},
      {'c', "", "", "a\\b"},
      {'w', "a\\b\\y", "2", ok},
      {'d', "a\\b\\x", "", ok},
      {'n', "a\\b\\y", "a\\b\\z", ok},
      {'r', "a\\b\\z", "", "2"},
      {'e', "a\\b\\y", "", "0"},
      {'n', "a", "m", ok},
      {'e', "a\\b\\z", "", "0"},
      {'e', "m\\b\\z", "", "1"},
      {'d', "m\\b\\z", "", ok},
      {'m', "m\\b", "keep", ok},
      {'e', "m\\b\\keep", "", "1"},
      {'c', "", "", "m\\b"},
      {'x', "m\\b", "keep", ok},
      {'x', "m", "b", ok},
      {'c', "", "", ""},
      {'m', "m", "c", ok},  // may reuse the removed directory's handle
      {'w', "m\\c\\y", "3", ok},
      {'e', "m\\c\\y", "", "1"}};
  Store store;
  for (const Step& step : steps) EXPECT_EQ(Perform(store.fs, step), step.expected) << step.a;
  EXPECT_EQ(store.pool()->LockedCount(), 1u);  // only the cached directory

  // Files of many blocks keep their bytes in the store's file.
  const std::vector<u8> pattern = Pattern(9, 70000);
  const std::string big(pattern.begin(), pattern.end());
  ASSERT_EQ(WriteFile(store.fs, "Local\\big.bin", big), nullptr);
  Store again(store.Close());
  EXPECT_EQ(ReadFile(again.fs, "LOCAL\\x.ini"), "[system]\n");
  EXPECT_EQ(ReadFile(again.fs, "local/BIG.BIN"), big);
}

// A store that cannot be written: when full (no block for a root), it gets no root and every
// lookup fails; with blocks left, its root stays in memory. Either way its file is left alone.
TEST(HpfsRegression, StoreThatCannotBeWrittenStaysEmptyAndUntouched) {
  for (u32 maxBlocks : {1u, 100u}) {
    const std::vector<u8> bytes = EmptyHpfsBytes(kBlock, 32, maxBlocks);
    auto* file = new MemoryFile(bytes);
    file->failWriteFrom = 1;
    file->failError = ERR_WRITEFAIL;
    auto* pool = new CBFHP();
    ASSERT_EQ(pool->Attach(file), nullptr);
    CHPFS fs(pool);
    const bool full = maxBlocks == 1;
    EXPECT_EQ(fs.RootHandle() == 0, full);
    EXPECT_EQ(fs.Exists(""), full ? 0u : 1u);
    ErrorCode error = nullptr;
    EXPECT_EQ(fs.Open("LOCAL\\strings3.ini", OPEN_READ, &error), nullptr);
    EXPECT_EQ(error, ERR_NOTFOUND);
    FindRecord record = {};
    EXPECT_EQ(fs.FindFirst(&record, ""), full ? ERR_NOTFOUND : ERR_NOMOREFILES);
    fs.FindClose(&record);
    EXPECT_NE(fs.CreateDir("", "x"), nullptr);
    EXPECT_EQ(file->bytes, bytes);
  }
}

TEST(HpfsCreate, RefusesUnusableGeometryAndImportsATreeFromAnyService) {
  MemoryFile refused;
  const u32 geometries[][3] = {{0, 32, 100}, {66, 32, 100}, {32, 8, 100}, {64, 64, 100},
                               {64, 6, 100}, {64, 30, 100}, {64, 32, 1}};
  for (const auto& g : geometries)
    EXPECT_EQ(CreateHpfsStore(&refused, g[0], g[1], g[2]), ERR_BADPARAMS);
  EXPECT_EQ(CreateHpfsStore(nullptr, 64, 32, 100), ERR_BADPARAMS);
  EXPECT_TRUE(refused.bytes.empty());

  Store source;
  ASSERT_EQ(source.fs->CreateDir("", "src"), nullptr);
  ASSERT_EQ(source.fs->CreateDir("src", "Sub"), nullptr);
  ASSERT_EQ(source.fs->CreateDir("src\\Sub", "empty"), nullptr);
  const std::vector<u8> pattern = Pattern(4, 200000);
  const std::string big(pattern.begin(), pattern.end());
  ASSERT_EQ(WriteFile(source.fs, "src\\big", big), nullptr);
  ASSERT_EQ(WriteFile(source.fs, "src\\Sub\\small.txt", "small"), nullptr);
  ASSERT_EQ(WriteFile(source.fs, "src\\zero", ""), nullptr);
  MemoryFile created(std::vector<u8>(1000, 0xEE));
  ASSERT_EQ(CreateHpfsStore(&created, 512, 16, kHpfsDefaultMaxBlocks), nullptr);
  EXPECT_EQ(created.bytes.size(), 512u);
  Store made(created.bytes);
  CHPFS& target = *made.fs;
  // "ok files directories bytes" for a sound store, else the outcome and the verifier's message.
  auto verify = [](const std::vector<u8>& bytes) {
    MemoryFile store(bytes);
    char message[200] = "unset";
    u32 files = 0, directories = 0;
    u64 size = 0;
    ErrorCode error = VerifyHpfsStore(&store, message, sizeof message, &files, &directories, &size);
    if (error) return Outcome(error) + " " + message;
    return "ok " + std::to_string(files) + " " + std::to_string(directories) + " " +
           std::to_string(size);
  };
  const std::string invalid = Outcome(ERR_INVALIDFORMAT) + " ";
  std::string seen;
  auto progress = [](void* context, const char* path, u32 size) {
    *static_cast<std::string*>(context) += std::string(path) + ":" + std::to_string(size) + " ";
  };
  ASSERT_EQ(ImportTree(source.fs, "src", &target, "data\\in", progress, &seen), nullptr);
  EXPECT_EQ(seen, "data\\in\\Sub\\small.txt:5 data\\in\\big:200000 data\\in\\zero:0 ");
  EXPECT_EQ(ReadFile(&target, "data\\in\\big"), big);
  EXPECT_EQ(List(&target, "data\\in\\Sub"), "empty/ small.txt ");
  // Importing again merges directories and replaces files.
  ASSERT_EQ(WriteFile(source.fs, "src\\Sub\\small.txt", "changed"), nullptr);
  ASSERT_EQ(ImportTree(source.fs, "src", &target, "data\\in"), nullptr);
  EXPECT_EQ(ReadFile(&target, "data\\in\\sub\\small.txt"), "changed");
  EXPECT_EQ(List(&target, "data"), "in/ ");
  EXPECT_EQ(ImportTree(source.fs, "missing", &target, ""), ERR_NOTFOUND);

  // The store, with a free list, passes and is counted; a directory entry naming the root is
  // found.
  ASSERT_EQ(target.Delete("data\\in\\sub\\small.txt"), nullptr);
  std::vector<u8> bytes = made.Close();
  ASSERT_NE(LoadLe32(bytes, 16), 0u) << "no free list";
  EXPECT_EQ(verify(bytes), "ok 2 4 200000");
  const u32 root = LoadLe32(bytes, 28);
  StoreLe32(bytes, size_t{LoadLe32(bytes, size_t{root} * 512 + 16)} * 512, root);
  EXPECT_EQ(verify(bytes).find(invalid), 0u);
  EXPECT_NE(verify(bytes).find("used twice"), std::string::npos) << verify(bytes);

  // In 64-byte blocks: a directory of many blocks, and a free list of many once big is gone; a
  // free-list entry naming the root is found.
  for (char name[] = "src\\f0"; name[5] <= '9'; ++name[5])
    ASSERT_EQ(WriteFile(source.fs, name, "f"), nullptr);
  ASSERT_EQ(source.fs->Delete("src\\big"), nullptr);
  bytes = source.Close();
  EXPECT_EQ(verify(bytes), "ok 12 3 17");
  StoreLe32(bytes, size_t{LoadLe32(bytes, 20)} * kBlock + 4, LoadLe32(bytes, 28));
  EXPECT_NE(verify(bytes).find("listed twice"), std::string::npos) << verify(bytes);
  EXPECT_EQ(verify(bytes).find(invalid), 0u);
}

// Every allocation of attaching, creating, reading, listing, renaming and importing may fail:
// each failure is reported, leaves the store consistent and gives back every block.
TEST(HpfsAllocation, EveryOperationFailsCleanly) {
  Store sample(EmptyHpfsBytes(kBlock, 32, 10000));
  ASSERT_EQ(sample.fs->CreateDir("", "dir"), nullptr);
  ASSERT_EQ(WriteFile(sample.fs, "dir\\file", std::string(3000, 'f')), nullptr);
  const std::vector<u8> original = sample.Close();
  auto walk = [&](AllocationFailureRun& run) {
    CHPFS* copy = new CHPFS(AttachHpfs(EmptyHpfsBytes(128, 16, 1000)).release());
    auto* file = new MemoryFile(original);
    auto* pool = new CBFHP();  // a pool whose node table is missing fails every lock instead
    run.Arm();
    ErrorCode attached = pool->Attach(file);
    run.Disarm();
    CHPFS* fs = attached ? nullptr : new CHPFS(pool);
    run.Arm();
    if (attached) {
      EXPECT_EQ(attached, ERR_ALLOCFAIL);
      delete file;
      delete pool;
    }
    if (fs) {
      const HpfsHeader& header = pool->Header();
      const u32 inUse = header.blockCount - header.freeCount;
      ErrorCode made = fs->CreateDir("dir", "sub");
      EXPECT_TRUE(!made || header.blockCount - header.freeCount == inUse);
      const std::string read = ReadFile(fs, "dir\\file");
      EXPECT_TRUE(read == std::string(3000, 'f') || read[0] == '<') << read.substr(0, 20);
      const bool listed = !List(fs, "dir").empty();
      ErrorCode imported = ImportTree(fs, "", copy, "copy");
      ErrorCode renamed = fs->Rename("dir\\file", "moved");
      run.Disarm();
      EXPECT_TRUE(run.Injected() || (!made && listed && !renamed && !imported));
      EXPECT_EQ(fs->Exists("dir\\sub") == 1, made == nullptr);
      // A failed rename leaves the file where it was, one way or the other.
      EXPECT_EQ(fs->Exists("dir\\file") + fs->Exists("moved"), 1u);
      // An import either fails or is complete (a lookup that could not lock its directory is
      // asked again).
      EXPECT_TRUE(imported || ReadFile(copy, "copy\\dir\\file") == std::string(3000, 'f'));
    }
    run.Disarm();
    delete fs;
    delete copy;
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  };
  EXPECT_GT(RunWithAllocationFailures(walk), 10u);
  EXPECT_GT(RunWithAllocationFailures(walk, true), 3u);
}
