#include "file/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/failing_pools.h"
#include "support/hpfs_store.h"

namespace {

class BareFile : public CFile {
 public:
  BareFile(CFile* base = nullptr, u32 owns = 0) : CFile(base, owns) {}
};

class SeekFailingFile : public MemoryFile {
 public:
  using MemoryFile::MemoryFile;
  ErrorCode Seek(i32, u16) override { return ERR_SEEKFAIL; }
};

// What a correct move leaves behind: memmove over the part that lies inside the file.
std::vector<u8> Moved(std::vector<u8> bytes, u32 destination, u32 source, u32 count) {
  if (source > bytes.size()) return bytes;
  count = std::min<u32>(count, static_cast<u32>(bytes.size()) - source);
  if (bytes.size() < static_cast<size_t>(destination) + count) bytes.resize(destination + count);
  std::memmove(bytes.data() + destination, bytes.data() + source, count);
  return bytes;
}

}  // namespace

// The defaults transfer nothing, and a caller that asked for a count must not read garbage; a
// failed seek of the positional calls transfers nothing either.
TEST(File, DefaultsAndFailedSeeksTransferNothing) {
  BareFile bare;
  SeekFailingFile seekless(std::string("abcdef"));
  u8 buffer[4] = {1, 2, 3, 4};
  for (CFile* file : {static_cast<CFile*>(&bare), static_cast<CFile*>(&seekless)}) {
    const ErrorCode expected = file == &bare ? nullptr : ERR_SEEKFAIL;
    u32 done = 99;
    EXPECT_EQ(file->ReadAt(buffer, 2, 4, &done), expected);
    EXPECT_EQ(done, 0u);
    done = 99;
    EXPECT_EQ(file->WriteAt(buffer, 2, 4, &done), expected);
    EXPECT_EQ(done, 0u);
  }
  EXPECT_EQ(seekless.reads + seekless.writes, 0u);
  void* value = nullptr;
  EXPECT_EQ(bare.GetProperty(PROP_OSHANDLE, &value, 0), ERR_UNKNOWNPID);
  EXPECT_EQ(bare.SetProperty(PROP_OSHANDLE, &value, 0), ERR_UNKNOWNPID);
}

TEST(File, OwnedBasesAreDestroyedWithTheTopFileOnly) {
  bool bottomGone = false, sideGone = false;
  MemoryFile* bottom = new MemoryFile("x");
  bottom->destroyedFlag = &bottomGone;
  MemoryFile side("y");
  side.destroyedFlag = &sideGone;
  delete new BareFile(new BareFile(bottom, 1), 1);
  { BareFile notOwning(&side, 0); }
  EXPECT_TRUE(bottomGone);
  EXPECT_FALSE(sideGone);
  side.destroyedFlag = nullptr;
}

// Overlapping ranges in both directions with any chunk size, counts cut at the end, sources at
// or past the end, and the regressions: a chunk size of 0 looped forever, and a destination
// range past 4 GiB wrapped around so that the backward copy overwrote the start of the file.
TEST(MoveData, AgreesWithMemmoveOverThePartInsideTheFile) {
  const struct {
    u32 destination, source, count;
    ErrorCode error;
  } rows[] = {
      {110, 100, 50, nullptr}, {100, 110, 50, nullptr},        {0, 150, 50, nullptr},
      {150, 0, 50, nullptr},   {1, 0, 199, nullptr},           {0, 1, 199, nullptr},
      {120, 80, 80, nullptr},  {5, 5, 100, nullptr},           {0, 201, 10, nullptr},
      {0, 200, 10, nullptr},   {20, 190, 0x7FFFFFFF, nullptr}, {0xFFFFFFF8u, 0, 16, ERR_BADPARAMS}};
  for (const auto& row : rows) {
    for (u32 chunk : {0u, 1u, 7u, 16u, 50u, 64u, 32768u}) {
      MemoryFile file(Pattern(1, 200));
      const ErrorCode error = chunk == 0 && row.source < 200 ? ERR_BADPARAMS : row.error;
      const std::vector<u8> expected =
          error ? file.bytes : Moved(file.bytes, row.destination, row.source, row.count);
      EXPECT_EQ(file.MoveData(row.destination, row.source, row.count, chunk, nullptr), error);
      EXPECT_EQ(file.bytes, expected) << "dst " << row.destination << " src " << row.source
                                      << " count " << row.count << " chunk " << chunk;
      EXPECT_TRUE(!(error || row.source >= 200) || file.reads + file.writes == 0u);
    }
  }
}

// A shortage gives NOTENOUGHMEM and touches nothing; with the caller's buffer no memory is taken.
TEST(File, AllocationFailuresOfMoveDataAndLoadBlock) {
  const std::vector<u8> original = Pattern(1, 200);
  u8 own[8];
  for (u8* buffer : {static_cast<u8*>(nullptr), own}) {
    const u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
      MemoryFile file(original);
      run.Arm();
      const ErrorCode error = file.MoveData(110, 100, 50, sizeof own, buffer);
      run.Disarm();
      EXPECT_EQ(error, run.Injected() ? ERR_NOTENOUGHMEM : nullptr);
      EXPECT_EQ(file.bytes, run.Injected() ? original : Moved(original, 110, 100, 50));
      EXPECT_EQ(run.OutstandingBlocks(), 0);
    });
    EXPECT_EQ(runs, buffer ? 1u : 2u);
  }
  const u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile file(original);
    void* block = &file;
    run.Arm();
    const ErrorCode error = file.LoadBlock(40, 64, &block);
    run.Disarm();
    EXPECT_EQ(error, run.Injected() ? ERR_NOTENOUGHMEM : nullptr);
    EXPECT_EQ(block == nullptr, run.Injected());
    EXPECT_TRUE(!block || std::memcmp(block, original.data() + 40, 64) == 0);
    if (block) file.FreeBlock(block);
    block = &file;
    EXPECT_EQ(file.LoadBlock(190, 20, &block), ERR_EOF);
    EXPECT_EQ(block, nullptr) << "the block of a failed read goes back";
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 2u);
}
