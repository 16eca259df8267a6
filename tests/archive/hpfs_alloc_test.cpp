// The file system and its block file under allocation failures: every failure is reported,
// leaves the store as it was, and gives back every block.
#include <gtest/gtest.h>

#include "archive/hpfs.h"
#include "archive/hpfs_create.h"
#include "support/failing_pools.h"
#include "support/hpfs_store.h"

namespace {

constexpr u32 kBlock = 64;

std::vector<u8> SampleTree() {
  auto* pool = AttachHpfs(EmptyHpfsBytes(kBlock, 32, 10000)).release();
  MemoryFile* file = static_cast<MemoryFile*>(pool->File());
  CHPFS fs(pool);
  EXPECT_EQ(fs.CreateDir("", "dir"), nullptr);
  CFile* out = fs.Open("dir\\file", OPEN_WRITE | OPEN_CREATE, nullptr);
  std::vector<u8> data = Pattern(1, 3000);
  EXPECT_EQ(out->Write(data.data(), 3000, nullptr), nullptr);
  delete out;
  pool->Flush();
  return file->bytes;
}

u32 BlocksInUse(CHPFS* fs) {
  const HpfsHeader& header = static_cast<CBFHP*>(fs->Pool())->Header();
  return header.blockCount - header.freeCount;
}

TEST(HpfsAllocation, EveryOperationFailsCleanly) {
  const std::vector<u8> original = SampleTree();
  auto walk = [&](AllocationFailureRun& run) {
    auto* file = new MemoryFile(original);
    auto* pool = new CBFHP();
    if (pool->Attach(file)) {  // only reached when set-up itself cannot allocate
      delete file;
      delete pool;
      run.Arm();
      return;
    }
    CHPFS* fs = new CHPFS(pool);
    u32 inUse = BlocksInUse(fs);
    run.Arm();
    ErrorCode made = fs->CreateDir("dir", "sub");
    u32 inUseAfterCreate = BlocksInUse(fs);
    ErrorCode error = nullptr;
    CFile* in = fs->Open("dir\\file", OPEN_READ, &error);
    std::vector<u8> bytes(3000);
    ErrorCode read = in ? in->Read(bytes.data(), 3000, nullptr) : error;
    delete in;
    FindRecord record = {};
    ErrorCode listed = fs->FindFirst(&record, "dir");
    fs->FindClose(&record);
    ErrorCode renamed = fs->Rename("dir\\file", "moved");
    run.Disarm();

    if (!run.Injected()) {
      EXPECT_EQ(made, nullptr);
      EXPECT_EQ(read, nullptr);
      EXPECT_EQ(listed, nullptr);
      EXPECT_EQ(renamed, nullptr);
    }
    EXPECT_EQ(fs->Exists("dir\\sub") == 1, made == nullptr);
    if (made) {
      EXPECT_EQ(inUseAfterCreate, inUse);
    }
    if (!read) {
      EXPECT_EQ(bytes, Pattern(1, 3000));
    }
    // A failed rename leaves the file where it was, one way or the other.
    EXPECT_EQ(fs->Exists("dir\\file") + fs->Exists("moved"), 1u);
    delete fs;
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  };
  EXPECT_GT(RunWithAllocationFailures(walk), 3u);
  AllocationFailureOptions persistent;
  persistent.persistent = true;
  EXPECT_GT(RunWithAllocationFailures(walk, persistent), 3u);
}

TEST(HpfsAllocation, AttachAndLockReportShortages) {
  const std::vector<u8> original = SampleTree();
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    auto* file = new MemoryFile(original);
    run.Arm();
    auto* pool = new (std::nothrow) CBFHP();
    ErrorCode attached = pool ? pool->Attach(file) : ERR_NOTENOUGHMEM;
    void* copy = attached ? nullptr : pool->Lock(pool->GetRoot());
    run.Disarm();
    if (!run.Injected()) {
      EXPECT_EQ(attached, nullptr);
      EXPECT_NE(copy, nullptr);
    }
    if (attached) {
      EXPECT_TRUE(attached == ERR_ALLOCFAIL || attached == ERR_NOTENOUGHMEM) << attached;
      delete file;
    } else if (!copy) {
      EXPECT_EQ(pool->GetError(), ERR_LOCKFAIL);
    }
    if (copy) pool->Unlock(pool->GetRoot(), 0);
    delete pool;
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_GT(runs, 2u);
}

TEST(HpfsAllocation, ImportReportsShortages) {
  const std::vector<u8> original = SampleTree();
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    CHPFS source(AttachHpfs(original).release());
    auto* target = new MemoryFile();
    ASSERT_EQ(CreateHpfsStore(target, 128, 16, 1000), nullptr);
    CHPFS destination(AttachHpfs(target->bytes).release());
    delete target;
    run.Arm();
    ErrorCode error = ImportTree(&source, "", &destination, "copy");
    run.Disarm();
    // A shortage either ends the import with an error or is got over (a lookup that could not
    // lock its directory is asked again); the copy is then complete.
    if (!run.Injected()) {
      EXPECT_EQ(error, nullptr);
    }
    if (!error) {
      CFile* copy = destination.Open("copy\\dir\\file", OPEN_READ, nullptr);
      ASSERT_NE(copy, nullptr);
      std::vector<u8> bytes(3000);
      EXPECT_EQ(copy->Read(bytes.data(), 3000, nullptr), nullptr);
      EXPECT_EQ(bytes, Pattern(1, 3000));
      delete copy;
    }
  });
  EXPECT_GT(runs, 3u);
}

}  // namespace
