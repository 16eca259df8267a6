#include "file/file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/failing_pools.h"
#include "support/memory_file.h"

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

std::vector<u8> Pattern(u32 size) {
  std::vector<u8> bytes(size);
  for (u32 i = 0; i < size; ++i) bytes[i] = static_cast<u8>(i * 7 + 3);
  return bytes;
}

// What a correct move leaves behind: memmove over the part that lies inside the file.
std::vector<u8> Moved(std::vector<u8> bytes, u32 destination, u32 source, u32 count) {
  if (source > bytes.size()) return bytes;
  count = std::min<u32>(count, static_cast<u32>(bytes.size()) - source);
  if (bytes.size() < static_cast<size_t>(destination) + count) bytes.resize(destination + count);
  std::memmove(bytes.data() + destination, bytes.data() + source, count);
  return bytes;
}

}  // namespace

// The defaults transfer nothing; a caller that asked for a count must not read garbage.
TEST(FileDefaults, UnofferedTransfersReportZeroBytesAndPropertiesAreUnknown) {
  BareFile file;
  u8 buffer[4] = {1, 2, 3, 4};
  u32 done = 99;
  EXPECT_EQ(file.Read(buffer, 4, &done), nullptr);
  EXPECT_EQ(done, 0u);
  done = 99;
  EXPECT_EQ(file.Write(buffer, 4, &done), nullptr);
  EXPECT_EQ(done, 0u);
  void* value = nullptr;
  EXPECT_EQ(file.GetProperty(PROP_OSHANDLE, &value, 0), ERR_UNKNOWNPID);
  EXPECT_EQ(file.SetProperty(PROP_OSHANDLE, &value, 0), ERR_UNKNOWNPID);
  EXPECT_EQ(value, nullptr);
}

TEST(FileLayers, OwnedBasesAreDestroyedWithTheTopFileOnly) {
  bool bottomGone = false, middleGone = false, sideGone = false;
  MemoryFile* bottom = new MemoryFile("x");
  bottom->destroyedFlag = &bottomGone;
  MemoryFile* side = new MemoryFile("y");
  side->destroyedFlag = &sideGone;
  {
    BareFile* middle = new BareFile(bottom, 1);
    struct Flagged : BareFile {
      Flagged(CFile* base, bool* flag) : BareFile(base, 1), gone(flag) {}
      ~Flagged() override { *gone = true; }
      bool* gone;
    };
    CFile* top = new Flagged(middle, &middleGone);
    BareFile notOwning(side, 0);
    delete top;
  }
  EXPECT_TRUE(middleGone);
  EXPECT_TRUE(bottomGone);
  EXPECT_FALSE(sideGone);
  delete side;
}

TEST(FilePositional, ReadAtAndWriteAtReturnTheSeekFailureAndTransferNothing) {
  SeekFailingFile file(std::string("abcdef"));
  u8 buffer[4] = {};
  u32 done = 99;
  EXPECT_EQ(file.ReadAt(buffer, 2, 4, &done), ERR_SEEKFAIL);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.reads, 0u);
  done = 99;
  EXPECT_EQ(file.WriteAt(buffer, 2, 4, &done), ERR_SEEKFAIL);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.writes, 0u);
  MemoryFile good(std::string("abcdef"));
  EXPECT_EQ(good.ReadAt(buffer, 2, 4, &done), nullptr);
  EXPECT_EQ(std::memcmp(buffer, "cdef", 4), 0);
  EXPECT_EQ(good.WriteAt("XY", 1, 2, &done), nullptr);
  EXPECT_EQ(std::string(good.bytes.begin(), good.bytes.end()), "aXYdef");
}

TEST(MoveData, OverlappingRangesInBothDirectionsWithAnyChunkSize) {
  struct Case {
    u32 destination, source, count;
  };
  const Case cases[] = {{110, 100, 50}, {100, 110, 50}, {0, 150, 50},  {150, 0, 50},
                        {1, 0, 199},    {0, 1, 199},    {120, 80, 80}, {5, 5, 100}};
  const u32 chunks[] = {1, 7, 16, 50, 64, 32768};
  for (const Case& c : cases) {
    for (u32 chunk : chunks) {
      MemoryFile file(Pattern(200));
      std::vector<u8> expected = Moved(file.bytes, c.destination, c.source, c.count);
      EXPECT_EQ(file.MoveData(c.destination, c.source, c.count, chunk, nullptr), nullptr);
      EXPECT_EQ(file.bytes, expected) << "dst " << c.destination << " src " << c.source << " count "
                                      << c.count << " chunk " << chunk;
    }
  }
}

TEST(MoveData, CountIsCutAtTheEndAndASourceAtOrPastTheEndMovesNothing) {
  MemoryFile file(Pattern(200));
  std::vector<u8> original = file.bytes;
  EXPECT_EQ(file.MoveData(0, 201, 10, 16, nullptr), nullptr);
  EXPECT_EQ(file.MoveData(0, 200, 10, 16, nullptr), nullptr);
  EXPECT_EQ(file.bytes, original);
  EXPECT_EQ(file.reads + file.writes, 0u);

  // The stream's way of shifting everything behind a point: count 0x7FFFFFFF.
  EXPECT_EQ(file.MoveData(20, 190, 0x7FFFFFFF, 32768, nullptr), nullptr);
  EXPECT_EQ(file.bytes, Moved(original, 20, 190, 10));
  EXPECT_EQ(file.GetSize(), 200u);
}

TEST(MoveData, CallersBufferIsUsedAndNoPoolMemoryTaken) {
  MemoryFile file(Pattern(100));
  std::vector<u8> expected = Moved(file.bytes, 30, 10, 60);
  u8 buffer[8];
  FailingPoolsGuard pools;
  AllocationFailures::Arm(1, true);
  EXPECT_EQ(file.MoveData(30, 10, 60, sizeof buffer, buffer), nullptr);
  EXPECT_EQ(AllocationFailures::Counted(), 0u);
  AllocationFailures::Disarm();
  EXPECT_EQ(file.bytes, expected);
}

TEST(MoveData, ExhaustedPoolGivesNotEnoughMemAndMovesNothing) {
  const std::vector<u8> original = Pattern(200);
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile file(original);
    run.Arm();
    ErrorCode error = file.MoveData(110, 100, 50, 16, nullptr);
    run.Disarm();
    if (run.Injected()) {
      EXPECT_EQ(error, ERR_NOTENOUGHMEM);
      EXPECT_EQ(file.bytes, original);
      EXPECT_EQ(file.reads + file.writes, 0u);
    } else {
      EXPECT_EQ(error, nullptr);
      EXPECT_EQ(file.bytes, Moved(original, 110, 100, 50));
    }
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 2u);
}

TEST(MoveData, FirstReadOrWriteErrorIsReturnedUnchangedAndTheBufferFreed) {
  FailingPoolsGuard pools;
  MemoryFile reading(Pattern(200));
  reading.failReadFrom = 2;
  reading.failError = ERR_READFAIL;
  EXPECT_EQ(reading.MoveData(0, 100, 50, 16, nullptr), ERR_READFAIL);
  EXPECT_EQ(reading.writes, 1u) << "stops at the failed chunk";
  MemoryFile writing(Pattern(200));
  writing.failWriteFrom = 1;
  writing.failError = ERR_DISKFULL;
  EXPECT_EQ(writing.MoveData(0, 100, 50, 16, nullptr), ERR_DISKFULL);
  EXPECT_EQ(writing.reads, 1u);
  EXPECT_EQ(pools.OutstandingBlocks(), 0);
}

// A chunk size of 0 made no progress and looped forever.
TEST(MoveData, RegressionZeroChunkSizeIsRefusedInsteadOfLoopingForever) {
  MemoryFile file(Pattern(64));
  std::vector<u8> original = file.bytes;
  EXPECT_EQ(file.MoveData(0, 8, 16, 0, nullptr), ERR_BADPARAMS);
  EXPECT_EQ(file.bytes, original);
}

// destination + count past 4 GiB wrapped around, and the backward copy then overwrote the start
// of the file.
TEST(MoveData, RegressionDestinationRangePastFourGigabytesDoesNotWrapToTheStart) {
  MemoryFile file(Pattern(64));
  std::vector<u8> original = file.bytes;
  EXPECT_EQ(file.MoveData(0xFFFFFFF8u, 0, 16, 8, nullptr), ERR_BADPARAMS);
  EXPECT_EQ(file.bytes, original);
  EXPECT_EQ(file.writes, 0u);
}

TEST(LoadBlock, ReadsTheRegionIntoAFreshBlockThatFreeBlockReturns) {
  FailingPoolsGuard pools;
  MemoryFile file(Pattern(100));
  void* block = nullptr;
  ASSERT_EQ(file.LoadBlock(40, 20, &block), nullptr);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::memcmp(block, file.bytes.data() + 40, 20), 0);
  EXPECT_EQ(file.FreeBlock(block), nullptr);
  EXPECT_EQ(pools.OutstandingBlocks(), 0);

  block = &file;
  EXPECT_EQ(file.LoadBlock(90, 20, &block), ERR_EOF);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(pools.OutstandingBlocks(), 0) << "the block of a failed read goes back";
}

TEST(LoadBlock, ExhaustedPoolGivesNotEnoughMemAndNoBlock) {
  u32 runs = RunWithAllocationFailures([&](AllocationFailureRun& run) {
    MemoryFile file(Pattern(100));
    void* block = &file;
    run.Arm();
    ErrorCode error = file.LoadBlock(0, 64, &block);
    run.Disarm();
    if (run.Injected()) {
      EXPECT_EQ(error, ERR_NOTENOUGHMEM);
      EXPECT_EQ(block, nullptr);
      EXPECT_EQ(file.reads, 0u);
    } else {
      ASSERT_EQ(error, nullptr);
      EXPECT_EQ(std::memcmp(block, file.bytes.data(), 64), 0);
      file.FreeBlock(block);
    }
    EXPECT_EQ(run.OutstandingBlocks(), 0);
  });
  EXPECT_EQ(runs, 2u);
}
